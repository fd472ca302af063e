#pragma once

// Atomic writes for tests, on real files through the standard library, with failures on demand:
// a test can make the next writes or folder creations fail with a description of its choice, and
// read back what was written.

#include "platform/AtomicFile.h"

#include <fstream>
#include <vector>

namespace quenlit::fake {

class FakeAtomicFile final : public platform::AtomicFile {
  public:
    // When set, every write fails with this description (and writes nothing).
    std::optional<std::string> writeError;
    // When set, every folder creation fails with this description.
    std::optional<std::string> directoryError;
    // The targets of the successful writes, in order.
    std::vector<std::filesystem::path> written;

    std::optional<std::string> writeAtomically(const std::filesystem::path& path,
                                               const std::filesystem::path& tempPath, std::string_view bytes,
                                               unsigned mode = 0600) override {
        if (writeError) return writeError;
        {
            std::ofstream out(tempPath, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) return "could not write " + tempPath.string();
        }
        std::error_code ec;
        std::filesystem::permissions(tempPath, static_cast<std::filesystem::perms>(mode & 0777), ec);
        std::filesystem::rename(tempPath, path, ec);
        if (ec) return "could not move " + tempPath.string() + ": " + ec.message();
        written.push_back(path);
        return std::nullopt;
    }

    std::optional<std::string> ensurePrivateDirectory(const std::filesystem::path& dir) override {
        if (directoryError) return directoryError;
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec) return "could not create " + dir.string() + ": " + ec.message();
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
        return std::nullopt;
    }
};

}  // namespace quenlit::fake
