#pragma once

// Atomic writes for tests, on real files through the standard library, with failures on demand:
// a test can make the next writes or folder creations fail with a description of its choice, and
// read back what was written. Reads check the type and size by the path, which is enough where no
// one swaps files underneath.

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
    // Every file whose bytes were read, in order.
    std::vector<std::filesystem::path> read;

    Result<> writeAtomically(const std::filesystem::path& path, const std::filesystem::path& tempPath,
                             std::string_view bytes, unsigned mode = 0600) override {
        if (writeError) return Failure{*writeError};
        {
            std::ofstream out(tempPath, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) return Failure{"could not write " + tempPath.string()};
        }
        std::error_code ec;
        std::filesystem::permissions(tempPath, static_cast<std::filesystem::perms>(mode & 0777), ec);
        std::filesystem::rename(tempPath, path, ec);
        if (ec) return Failure{"could not move " + tempPath.string() + ": " + ec.message()};
        written.push_back(path);
        return {};
    }

    Result<> ensurePrivateDirectory(const std::filesystem::path& dir, Links links = Links::follow) override {
        if (directoryError) return Failure{*directoryError};
        std::error_code ec;
        if (links == Links::refuse && std::filesystem::is_symlink(dir, ec))
            return Failure{dir.string() + " is a symbolic link, not a folder of the program's own"};
        std::filesystem::create_directories(dir, ec);
        if (ec) return Failure{"could not create " + dir.string() + ": " + ec.message()};
        std::filesystem::permissions(dir,
                                     std::filesystem::perms::group_all | std::filesystem::perms::others_all,
                                     std::filesystem::perm_options::remove, ec);
        return {};
    }

    Read readFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                  const std::function<char*(std::size_t)>& buffer) override {
        Read result;
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (status.type() == std::filesystem::file_type::not_found) {
            result.outcome = Read::Outcome::missing;
            return result;
        }
        if (ec) {
            result.error = "could not inspect " + path.string() + ": " + ec.message();
            return result;
        }
        if (status.type() != std::filesystem::file_type::regular) {
            result.outcome = Read::Outcome::notAFile;
            return result;
        }
        result.size = std::filesystem::file_size(path, ec);
        if (result.size > maxBytes) {
            result.outcome = Read::Outcome::tooLarge;
            return result;
        }
        read.push_back(path);
        std::ifstream in(path, std::ios::binary);
        const auto size = static_cast<std::size_t>(result.size);
        if (!in || !in.read(buffer(size), static_cast<std::streamsize>(size))) {
            result.error = "could not read " + path.string();
            return result;
        }
        result.outcome = Read::Outcome::read;
        return result;
    }
};

}  // namespace quenlit::fake
