#pragma once

// Durable file writes for the program's own data. A reader of the target path always sees either
// the complete previous content or the complete new content, even when the process is killed or
// the machine loses power in the middle of a write.
//
// Calls block until the data is on disk; callable from any thread. Failures are returned as the
// error's description, never thrown.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quenlit::platform {

class AtomicFile {
  public:
    virtual ~AtomicFile() = default;

    // Writes `bytes` to `tempPath` (created or truncated, permission bits `mode`), flushes it to
    // disk, then renames it over `path` in one step and flushes the folder. The previous content
    // of `path` is never removed first. On failure the temporary file is removed where possible
    // and `path` is unchanged.
    virtual std::optional<std::string> writeAtomically(const std::filesystem::path& path,
                                                       const std::filesystem::path& tempPath,
                                                       std::string_view bytes, unsigned mode = 0600) = 0;

    // Creates the folder and its missing parents. The folder itself ends with permission bits
    // 0700: created so, or tightened when it exists with wider ones. Parents that are created get
    // 0700 as well; existing parents are left alone.
    virtual std::optional<std::string> ensurePrivateDirectory(const std::filesystem::path& dir) = 0;
};

}  // namespace quenlit::platform
