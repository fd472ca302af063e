#include "backends/linux/PosixFileReader.h"

#include "backends/linux/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quenlit::linux_backend {
namespace {

platform::FileRead failure(platform::FileRead::Status status, int error = 0) {
    platform::FileRead read;
    read.status = status;
    if (error != 0) read.reason = std::strerror(error);
    return read;
}

}  // namespace

platform::FileRead PosixFileReader::read(const std::filesystem::path& path, std::uintmax_t limit) {
    using Status = platform::FileRead::Status;
    // O_NONBLOCK: opening a named pipe for reading would otherwise wait for a writer.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return failure(Status::missing);
        if (error == ENXIO) return failure(Status::notRegularFile);  // a socket
        return failure(Status::unreadable, error);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return failure(Status::unreadable, errno);
    if (!S_ISREG(st.st_mode)) return failure(Status::notRegularFile);
    if (static_cast<std::uintmax_t>(st.st_size) > limit) {
        platform::FileRead read = failure(Status::tooLarge);
        read.size = static_cast<std::uintmax_t>(st.st_size);
        return read;
    }
    // The file may grow while it is read: never more than the limit and one byte.
    platform::FileRead read;
    read.status = Status::ok;
    read.bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t filled = 0;
    for (;;) {
        if (filled == read.bytes.size()) {
            if (read.bytes.size() > limit) break;
            read.bytes.resize(std::min<std::uintmax_t>(limit + 1, read.bytes.size() + 4096));
        }
        const ssize_t n = ::read(fd.get(), read.bytes.data() + filled, read.bytes.size() - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            return failure(Status::unreadable, errno);
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    read.bytes.resize(filled);
    if (filled > limit) {
        platform::FileRead large = failure(Status::tooLarge);
        large.size = filled;
        return large;
    }
    return read;
}

}  // namespace quenlit::linux_backend
