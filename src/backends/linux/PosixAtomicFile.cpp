#include "backends/linux/PosixAtomicFile.h"

#include "backends/linux/Descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

namespace quenlit::linux_backend {
namespace {

std::string describe(const std::string& what, const std::filesystem::path& path, int error) {
    return what + " " + path.string() + ": " + std::system_category().message(error);
}

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
    Descriptor fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return describe("could not open the folder", dir, errno);
    if (::fsync(fd.get()) != 0 && errno != EINVAL) return describe("could not flush the folder", dir, errno);
    return std::nullopt;
}

// Narrows the open folder's permissions to its owner's; never adds any. A folder its owner may
// not list is opened for its path only, and changed through that descriptor's /proc entry.
std::optional<std::string> makePrivate(int fd, bool pathOnly, const std::filesystem::path& dir) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return describe("could not inspect", dir, errno);
    if (!S_ISDIR(st.st_mode)) return dir.string() + " is not a folder";
    const mode_t mode = st.st_mode & 07777;
    const mode_t narrowed = mode & ~static_cast<mode_t>(077);
    if (narrowed == mode) return std::nullopt;
    const int changed = pathOnly ? ::chmod(("/proc/self/fd/" + std::to_string(fd)).c_str(), narrowed)
                                 : ::fchmod(fd, narrowed);
    if (changed != 0) return describe("could not restrict the permissions of", dir, errno);
    return std::nullopt;
}

std::optional<std::string> openAndMakePrivate(const std::filesystem::path& dir,
                                              platform::AtomicFile::Links links) {
    const bool refuse = links == platform::AtomicFile::Links::refuse;
    const int flags = O_DIRECTORY | O_CLOEXEC | (refuse ? O_NOFOLLOW : 0);
    int raw = ::open(dir.c_str(), O_RDONLY | flags);
    const bool pathOnly = raw < 0 && errno == EACCES;
    if (pathOnly) raw = ::open(dir.c_str(), O_PATH | flags);
    Descriptor fd(raw);
    if (fd.get() < 0) {
        const int error = errno;
        struct stat st {};
        if (refuse && ::lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            return dir.string() + " is a symbolic link, not a folder of the program's own";
        }
        if (error == ENOTDIR) return dir.string() + " is not a folder";
        return describe("could not open the folder", dir, error);
    }
    return makePrivate(fd.get(), pathOnly, dir);
}

// The helpers above answer the reason of a failure, or nothing.
Result<> outcome(std::optional<std::string> error) {
    if (error) return Failure{std::move(*error)};
    return {};
}

std::optional<std::string> writeNew(const std::filesystem::path& path, const std::filesystem::path& tempPath,
                                    std::string_view bytes, unsigned mode) {
    const auto fileMode = static_cast<mode_t>(mode & 07777);
    // A name of its own, created exclusively: a leftover of an earlier run, or a link planted in
    // its place, is never opened.
    std::string temp = tempPath.string() + ".XXXXXX";
    Descriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return describe("could not create", tempPath, errno);
    const std::filesystem::path created(temp);
    auto fail = [&](std::string error) -> std::optional<std::string> {
        ::unlink(created.c_str());
        return error;
    };
    if (::fchmod(fd.get(), fileMode) != 0)
        return fail(describe("could not set the permissions of", created, errno));
    if (auto error = writeAll(fd.get(), bytes, created)) return fail(*error);
    if (::fsync(fd.get()) != 0) return fail(describe("could not flush", created, errno));
    if (::close(fd.release()) != 0) return fail(describe("could not close", created, errno));
    if (::rename(created.c_str(), path.c_str()) != 0) {
        return fail(describe("could not move the new file into place at", path, errno));
    }
    // The rename itself is only durable once the folder's entry is on disk.
    return syncFolder(path.parent_path());
}

std::optional<std::string> ensureFolder(const std::filesystem::path& given,
                                        platform::AtomicFile::Links links) {
    if (given.empty()) return std::string("no folder given");
    // "images/" would reach through a link named "images" whatever the flags say.
    const std::filesystem::path dir =
        given.has_filename() || given.parent_path().empty() ? given : given.parent_path();
    struct stat st {};
    if (::lstat(dir.c_str(), &st) == 0) return openAndMakePrivate(dir, links);
    if (errno != ENOENT) return describe("could not inspect", dir, errno);
    if (dir.has_parent_path() && dir.parent_path() != dir) {
        const auto parent = dir.parent_path();
        if (::stat(parent.c_str(), &st) != 0) {
            if (errno != ENOENT) return describe("could not inspect", parent, errno);
            if (auto error = ensureFolder(parent, platform::AtomicFile::Links::follow)) return error;
        }
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return describe("could not create the folder", dir, errno);
    // mkdir's mode is narrowed by the umask only, never widened; the same narrowing settles it.
    return openAndMakePrivate(dir, links);
}

}  // namespace

Result<> PosixAtomicFile::writeAtomically(const std::filesystem::path& path,
                                          const std::filesystem::path& tempPath, std::string_view bytes,
                                          unsigned mode) {
    return outcome(writeNew(path, tempPath, bytes, mode));
}

Result<> PosixAtomicFile::ensurePrivateDirectory(const std::filesystem::path& dir, Links links) {
    return outcome(ensureFolder(dir, links));
}

PosixAtomicFile::Read PosixAtomicFile::readFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                                                const std::function<char*(std::size_t)>& buffer) {
    Read result;
    // Non-blocking, so that a pipe in place of the file does not hold the open.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            result.outcome = Read::Outcome::missing;
            return result;
        }
        result.error = describe("could not open", path, errno);
        return result;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        result.error = describe("could not inspect", path, errno);
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.outcome = Read::Outcome::notAFile;
        return result;
    }
    result.size = static_cast<std::uintmax_t>(st.st_size);
    if (result.size > maxBytes) {
        result.outcome = Read::Outcome::tooLarge;
        return result;
    }
    const auto size = static_cast<std::size_t>(result.size);
    char* out = buffer(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd.get(), out + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = describe("could not read", path, errno);
            return result;
        }
        if (n == 0) {
            result.error = path.string() + " became shorter while it was read";
            return result;
        }
        done += static_cast<std::size_t>(n);
    }
    result.outcome = Read::Outcome::read;
    return result;
}

}  // namespace quenlit::linux_backend
