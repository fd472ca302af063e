#pragma once

// Atomic, durable file replacement with POSIX calls: write a temporary file, fsync it, rename it
// over the target, fsync the folder. Reads check the type and size on the opened descriptor.

#include "platform/AtomicFile.h"

namespace quenlit::linux_backend {

class PosixAtomicFile final : public platform::AtomicFile {
  public:
    Result<> writeAtomically(const std::filesystem::path& path, const std::filesystem::path& tempPath,
                             std::string_view bytes, unsigned mode = 0600) override;
    Result<> ensurePrivateDirectory(const std::filesystem::path& dir, Links links = Links::follow) override;
    Read readFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                  const std::function<char*(std::size_t)>& buffer) override;
};

}  // namespace quenlit::linux_backend
