#pragma once

// The program's own data files. Writes are durable: a reader of the target path always sees either
// the complete previous content or the complete new content, even when the process is killed or
// the machine loses power in the middle of a write. Reads take regular files only, up to a size
// the caller names, so a file planted in place of a history (a device, a pipe, a file of
// gigabytes) is refused before anything is read.
//
// Calls block until done; callable from any thread. Failures are returned as the error's
// description, never thrown.

#include "base/Result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quenlit::platform {

class AtomicFile {
  public:
    virtual ~AtomicFile() = default;

    // Writes `bytes` to a new temporary file named `tempPath` plus a unique suffix (created
    // exclusively, never through an existing file or link, permission bits `mode`), flushes it to
    // disk, then renames it over `path` in one step and flushes the folder. The previous content
    // of `path` is never removed first. On failure the temporary file is removed where possible
    // and `path` is unchanged.
    virtual Result<> writeAtomically(const std::filesystem::path& path, const std::filesystem::path& tempPath,
                                     std::string_view bytes, unsigned mode = 0600) = 0;

    // Whether ensurePrivateDirectory may reach its folder through a symbolic link.
    enum class Links { follow, refuse };

    // Creates the folder and its missing parents, those created with permission bits 0700. An
    // existing folder loses any permission for its group and others, and gains none. With
    // Links::refuse, a folder that is a symbolic link is an error and is left untouched.
    virtual Result<> ensurePrivateDirectory(const std::filesystem::path& dir,
                                            Links links = Links::follow) = 0;

    struct Read {
        enum class Outcome {
            read,      // the whole file is in the buffer
            missing,   // nothing at the path
            notAFile,  // a folder, device, pipe or socket
            tooLarge,  // larger than maxBytes; size says how large
            failed,    // error says why
        };
        Outcome outcome = Outcome::failed;
        std::uintmax_t size = 0;
        std::string error;
    };
    // Reads a whole regular file into the buffer that `buffer(size)` returns for its size. The
    // type and size are those of the opened file, not of whatever the path named a moment before.
    virtual Read readFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                          const std::function<char*(std::size_t size)>& buffer) = 0;
};

}  // namespace quenlit::platform
