#pragma once

// The directory jump: a query "z" followed by white space and words is handed to the external
// `zoxide` program, whose best match becomes a folder row. These functions hold no state; the
// asynchronous lookup and its bookkeeping belong to the application index. Everything here may be
// called from any thread (bestMatch blocks while the program runs, so it belongs on a background
// task).

#include "platform/ProcessRunner.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::Zoxide {

// zoxide answers in milliseconds; one still running after this long is stuck (a locked database,
// a hung file system) and is killed, so lookups never pile up behind it.
inline constexpr std::chrono::duration<double> kLookupTimeout{5.0};

// What a lookup needs to know of the user's environment; tests build their own.
struct Environment {
    std::string home;                       // the user's home directory, without a trailing "/"
    std::optional<std::string> searchPath;  // the PATH variable, absent when unset

    // The home directory (read once, from the XDG directories) and PATH as it is now.
    static Environment current();
};

// The user's home directory, read once from the XDG directories, without a trailing "/".
const std::string& homeDirectory();

// The words of a zoxide query in the case typed, or absent when the query is an ordinary one
// ("zoom", "z" alone, "z" followed only by white space).
std::optional<std::vector<std::string>> keywords(std::string_view query);

// The words joined with U+001F: queries with the same words, however spaced, share a key.
std::string lookupKey(const std::vector<std::string>& keywords);

// The fixed places where zoxide is looked for before PATH, in order.
std::vector<std::string> candidateExecutables(const std::string& home);

// The first candidate, then the first PATH directory (empty entries skipped), that holds an
// executable "zoxide". Not cached: every lookup resolves again.
std::optional<std::string> resolveExecutable(platform::ProcessRunner& runner,
                                             const Environment& environment = Environment::current());

// In normal use the run function is the platform's ProcessRunner::run.
using RunFunction = std::function<platform::ProcessOutcome(const std::string& executable,
                                                           const std::vector<std::string>& arguments)>;
using ResolveFunction = std::function<std::optional<std::string>()>;

// True once the lookup's answer is no longer wanted.
using CancelFunction = std::function<bool()>;

// The directory zoxide ranks first for the keywords, or absent (no program, a failed run, a
// non-zero status, no output, or a first line that is not the absolute path of an existing
// directory: zoxide still ranks folders deleted since they were visited). The single keyword "~"
// answers the home directory without running anything. An absent `executable` is resolved at the
// time of the call with `resolve`. The keywords follow "--", so none is taken as an option.
std::optional<std::string> bestMatch(const std::vector<std::string>& keywords,
                                     const std::optional<std::string>& executable, const RunFunction& run,
                                     const ResolveFunction& resolve, const std::string& home);

// The usual lookup: resolves and runs through `runner`. The program is killed after
// kLookupTimeout, or as soon as `cancelled` answers true; either ends as no match.
std::optional<std::string> bestMatch(const std::vector<std::string>& keywords,
                                     const std::optional<std::string>& executable,
                                     platform::ProcessRunner& runner,
                                     const Environment& environment = Environment::current(),
                                     const CancelFunction& cancelled = {});
// The same with the given home folder and PATH as it is now.
std::optional<std::string> bestMatch(const std::vector<std::string>& keywords,
                                     const std::optional<std::string>& executable,
                                     platform::ProcessRunner& runner, const std::filesystem::path& home,
                                     const CancelFunction& cancelled = {});

// Records a visit to `directory` as the shell's `z` does (`zoxide add -- DIRECTORY`), so that it
// ranks higher in later lookups. Blocks while the program runs (killed after kLookupTimeout);
// false when zoxide is missing, did not start or failed. An `executable` absent is resolved with
// `environment`.
bool recordVisit(const std::string& directory, const std::optional<std::string>& executable,
                 platform::ProcessRunner& runner, const Environment& environment = Environment::current());

// "~" for the home directory itself, "~/…" for a path below it, any other path unchanged.
// Trailing separators of `home` are ignored.
std::string abbreviate(std::string_view path, std::string_view home = homeDirectory());

}  // namespace quenlit::Zoxide
