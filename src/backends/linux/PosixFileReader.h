#pragma once

// Small whole-file reads with POSIX calls: opened without waiting (a named pipe never blocks the
// open), checked to be a regular file on the opened descriptor, read no further than the limit.

#include "platform/FileReader.h"

namespace quenlit::linux_backend {

class PosixFileReader final : public platform::FileReader {
  public:
    platform::FileRead read(const std::filesystem::path& path, std::uintmax_t limit) override;
};

}  // namespace quenlit::linux_backend
