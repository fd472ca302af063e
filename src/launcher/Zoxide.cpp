#include "launcher/Zoxide.h"

#include "base/Paths.h"
#include "base/Text.h"
#include "base/Uuid.h"
#include "launcher/AppItem.h"

#include <cstdlib>
#include <system_error>

namespace quenlit {
namespace {

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

namespace Zoxide {
namespace {

// Length in bytes of the line break starting at `at` (LF, VT, FF, CR, NEL, LS, PS), 0 when none.
std::size_t lineBreakLength(std::string_view s, std::size_t at) {
    const unsigned char c = static_cast<unsigned char>(s[at]);
    if (c >= 0x0A && c <= 0x0D) return 1;
    if (c == 0xC2 && at + 1 < s.size() && static_cast<unsigned char>(s[at + 1]) == 0x85) return 2;
    if (c == 0xE2 && at + 2 < s.size() && static_cast<unsigned char>(s[at + 1]) == 0x80) {
        const unsigned char last = static_cast<unsigned char>(s[at + 2]);
        if (last == 0xA8 || last == 0xA9) return 3;
    }
    return 0;
}

std::optional<std::string> firstNonEmptyLine(std::string_view output) {
    std::string_view s = text::trim(output);
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t length = lineBreakLength(s, i);
        if (length == 0) {
            ++i;
            continue;
        }
        if (i > start) return std::string(s.substr(start, i - start));
        i += length;
        start = i;
    }
    if (start < s.size()) return std::string(s.substr(start));
    return std::nullopt;
}

// Only an absolute path is checked: a relative one would be read against our own working folder.
// A NUL would cut the path short for the system, which would then check another folder.
bool isExistingDirectory(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return false;
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

}  // namespace

const std::string& homeDirectory() {
    static const std::string home = withoutTrailingSeparators(XdgDirs::current().home.string());
    return home;
}

Environment Environment::current() {
    Environment environment;
    environment.home = homeDirectory();
    if (const char* path = std::getenv("PATH")) environment.searchPath = path;
    return environment;
}

std::optional<std::vector<std::string>> keywords(std::string_view query) {
    std::string_view t = text::trim(query);
    if (text::graphemeCount(t) < 2) return std::nullopt;
    // Whole characters: "ź" (z and a combining accent) is not a "z".
    if (!text::hasPrefix(text::lowercase(t), "z")) return std::nullopt;
    // Only "z" and "Z" lower-case to "z", so the first character is that one byte.
    std::u32string rest = text::decodeUtf8(t.substr(1));
    if (rest.empty() || !text::isWhiteSpace(rest.front())) return std::nullopt;

    std::vector<std::string> words;
    std::string word;
    for (char32_t c : rest) {
        if (text::isWhiteSpace(c)) {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            text::appendUtf8(word, c);
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    if (words.empty()) return std::nullopt;
    return words;
}

std::string lookupKey(const std::vector<std::string>& keywords) {
    std::string key;
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        if (i > 0) key.push_back('\x1F');
        key += keywords[i];
    }
    return key;
}

std::vector<std::string> candidateExecutables(const std::string& home) {
    return {"/opt/homebrew/bin/zoxide", "/usr/local/bin/zoxide", home + "/.local/bin/zoxide"};
}

std::optional<std::string> resolveExecutable(platform::ProcessRunner& runner,
                                             const Environment& environment) {
    for (const auto& candidate : candidateExecutables(environment.home)) {
        if (runner.isExecutableFile(candidate)) return candidate;
    }
    if (!environment.searchPath) return std::nullopt;
    std::string_view path = *environment.searchPath;
    while (!path.empty()) {
        std::size_t colon = path.find(':');
        std::string_view directory = path.substr(0, colon);
        path = colon == std::string_view::npos ? std::string_view() : path.substr(colon + 1);
        if (directory.empty()) continue;
        std::string candidate = std::string(directory) + "/zoxide";
        if (runner.isExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> bestMatch(const std::vector<std::string>& keywords,
                                     const std::optional<std::string>& executable, const RunFunction& run,
                                     const ResolveFunction& resolve, const std::string& home) {
    if (keywords.empty()) return std::nullopt;
    if (keywords.size() == 1 && keywords.front() == "~") return home;
    std::optional<std::string> program = executable ? executable : resolve();
    if (!program) return std::nullopt;

    // Without "--" a word such as "--help" or "-i" would be taken as an option of zoxide and answer
    // with its help text (shown as a folder) or wait for an interactive picker.
    std::vector<std::string> arguments{"query", "--"};
    arguments.insert(arguments.end(), keywords.begin(), keywords.end());

    platform::ProcessOutcome outcome = run(*program, arguments);
    if (outcome.status != 0) return std::nullopt;
    std::optional<std::string> line = firstNonEmptyLine(outcome.standardOutput);
    if (!line || !isExistingDirectory(*line)) return std::nullopt;
    return line;
}

std::optional<std::string> bestMatch(const std::vector<std::string>& keywords,
                                     const std::optional<std::string>& executable,
                                     platform::ProcessRunner& runner, const Environment& environment,
                                     const CancelFunction& cancelled) {
    return bestMatch(
        keywords, executable,
        [&runner, &cancelled](const std::string& program, const std::vector<std::string>& arguments) {
            return runner.run(program, arguments, {kLookupTimeout, cancelled});
        },
        [&runner, &environment] { return resolveExecutable(runner, environment); }, environment.home);
}

std::optional<std::string> bestMatch(const std::vector<std::string>& keywords,
                                     const std::optional<std::string>& executable,
                                     platform::ProcessRunner& runner, const std::filesystem::path& home,
                                     const CancelFunction& cancelled) {
    Environment environment = Environment::current();
    environment.home = withoutTrailingSeparators(home.string());
    return bestMatch(keywords, executable, runner, environment, cancelled);
}

bool recordVisit(const std::string& directory, const std::optional<std::string>& executable,
                 platform::ProcessRunner& runner, const Environment& environment) {
    // Only a folder that exists now: zoxide would otherwise store a path that later lookups skip.
    if (!isExistingDirectory(directory)) return false;
    std::optional<std::string> program = executable ? executable : resolveExecutable(runner, environment);
    if (!program) return false;
    platform::RunLimits limits;
    limits.timeout = kLookupTimeout;
    return runner.run(*program, {"add", "--", directory}, limits).status == 0;
}

std::string abbreviate(std::string_view path, std::string_view home) {
    while (home.size() > 1 && home.back() == '/')
        home.remove_suffix(1);
    if (path == home) return "~";
    if (path.size() > home.size() && path.compare(0, home.size(), home) == 0 && path[home.size()] == '/') {
        return "~" + std::string(path.substr(home.size()));
    }
    return std::string(path);
}

}  // namespace Zoxide

AppItem AppItem::zoxide(const std::string& path) {
    return zoxide(path, Zoxide::homeDirectory());
}

AppItem AppItem::zoxide(const std::string& path, const std::string& home) {
    const std::string h = withoutTrailingSeparators(home);
    const bool isHome = path == h;
    std::string name = "~";
    if (!isHome) {
        // The last component, ignoring trailing separators; the root has none, so it is named by itself.
        std::string_view trimmed = path;
        while (!trimmed.empty() && trimmed.back() == '/')
            trimmed.remove_suffix(1);
        std::size_t slash = trimmed.rfind('/');
        name = std::string(slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
        if (name.empty()) name = path;
    }
    return make(nameBasedUUID("quenlit.zoxide:" + path), std::move(name), path, IconRef::file(path), false,
                ZoxideDetail{isHome ? std::string() : Zoxide::abbreviate(path, h)}, {}, Kind::folder);
}

}  // namespace quenlit
