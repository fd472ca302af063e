#include "backends/linux/PosixAtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <system_error>
#include <utility>

namespace quenlit::linux_backend {
namespace {

std::string describe(const std::string& what, const std::filesystem::path& path, int error) {
    return what + " " + path.string() + ": " + std::system_category().message(error);
}

// Closes on every path out; close errors of a written file are checked separately.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

std::optional<std::string> writeAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return describe("could not write", path, errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return std::nullopt;
}

std::optional<std::string> syncFolder(const std::filesystem::path& dir) {
    Fd fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return describe("could not open the folder", dir, errno);
    if (::fsync(fd.get()) != 0 && errno != EINVAL) return describe("could not flush the folder", dir, errno);
    return std::nullopt;
}

std::optional<std::string> makePrivate(const std::filesystem::path& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return describe("could not inspect", dir, errno);
    if (!S_ISDIR(st.st_mode)) return dir.string() + " is not a folder";
    if ((st.st_mode & 07777) != 0700 && ::chmod(dir.c_str(), 0700) != 0) {
        return describe("could not restrict the permissions of", dir, errno);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> PosixAtomicFile::writeAtomically(const std::filesystem::path& path,
                                                            const std::filesystem::path& tempPath,
                                                            std::string_view bytes, unsigned mode) {
    const auto fileMode = static_cast<mode_t>(mode & 07777);
    Fd fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, fileMode));
    if (fd.get() < 0) return describe("could not create", tempPath, errno);
    auto fail = [&](std::string error) -> std::optional<std::string> {
        ::unlink(tempPath.c_str());
        return error;
    };
    // A temporary file left by an earlier run keeps its old permissions through O_TRUNC.
    if (::fchmod(fd.get(), fileMode) != 0)
        return fail(describe("could not set the permissions of", tempPath, errno));
    if (auto error = writeAll(fd.get(), bytes, tempPath)) return fail(*error);
    if (::fsync(fd.get()) != 0) return fail(describe("could not flush", tempPath, errno));
    if (::close(fd.release()) != 0) return fail(describe("could not close", tempPath, errno));
    if (::rename(tempPath.c_str(), path.c_str()) != 0) {
        return fail(describe("could not move the new file into place at", path, errno));
    }
    // The rename itself is only durable once the folder's entry is on disk.
    return syncFolder(path.parent_path());
}

std::optional<std::string> PosixAtomicFile::ensurePrivateDirectory(const std::filesystem::path& dir) {
    if (dir.empty()) return std::string("no folder given");
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return makePrivate(dir);
    if (errno != ENOENT) return describe("could not inspect", dir, errno);
    if (dir.has_parent_path() && dir.parent_path() != dir) {
        const auto parent = dir.parent_path();
        if (::stat(parent.c_str(), &st) != 0) {
            if (errno != ENOENT) return describe("could not inspect", parent, errno);
            if (auto error = ensurePrivateDirectory(parent)) return error;
        }
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return describe("could not create the folder", dir, errno);
    // mkdir's mode is narrowed by the umask only, never widened; chmod settles it either way.
    return makePrivate(dir);
}

}  // namespace quenlit::linux_backend
