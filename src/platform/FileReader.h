#pragma once

// Whole-file reads of the small text files the program takes from the user or from other programs
// (the bindings file, Firefox's profiles.ini). Only regular files are read, and only up to a limit
// the caller names: a link to a device, a named pipe or a file of gigabytes is refused at once
// instead of holding the program or filling its memory.
//
// Callable from any thread; a read blocks only as long as the file takes to read.

#include <cstdint>
#include <filesystem>
#include <string>

namespace quenlit::platform {

struct FileRead {
    enum class Status { ok, missing, unreadable, notRegularFile, tooLarge };
    Status status = Status::missing;
    std::string bytes;        // ok: the whole file
    std::uintmax_t size = 0;  // tooLarge: the file's size (at least the limit plus one)
    std::string reason;       // unreadable: why, in the system's words

    bool ok() const { return status == Status::ok; }
    // What went wrong, naming the file ("/x/profiles.ini is too large (9000000 bytes, at most
    // 4194304)"); empty when the read succeeded.
    std::string problem(const std::filesystem::path& path, std::uintmax_t limit) const {
        switch (status) {
            case Status::ok:
                return {};
            case Status::missing:
                return path.string() + " does not exist";
            case Status::unreadable:
                return "cannot read " + path.string() + (reason.empty() ? "" : ": " + reason);
            case Status::notRegularFile:
                return path.string() + " is not a regular file";
            case Status::tooLarge:
                return path.string() + " is too large (" + std::to_string(size) + " bytes, at most " +
                       std::to_string(limit) + ")";
        }
        return {};
    }
};

class FileReader {
  public:
    virtual ~FileReader() = default;
    // The file at `path`, following symbolic links, when it is a regular file of at most `limit`
    // bytes. Missing: the file or a folder on its path does not exist; a folder on the path that
    // denies access makes it unreadable, not missing.
    virtual FileRead read(const std::filesystem::path& path, std::uintmax_t limit) = 0;
};

}  // namespace quenlit::platform
