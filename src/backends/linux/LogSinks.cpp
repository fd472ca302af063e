#include "backends/linux/LogSinks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace quenlit::linux_backend {
namespace {

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace

FileLogSink::FileLogSink(std::filesystem::path file, Clock clock)
    : file_(std::move(file)), clock_(std::move(clock)) {}

void FileLogSink::write(std::string_view line) noexcept {
    try {
        std::error_code ec;
        std::filesystem::create_directories(file_.parent_path(), ec);
        std::string record = log::isoTimestamp(clock_());
        record.append(" ").append(line).append("\n");
        // The log names the programs the user works in: it is the user's alone.
        int fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return;
        struct stat opened {};
        if (::fstat(fd, &opened) == 0) {
            if ((opened.st_mode & 077) != 0) ::fchmod(fd, 0600);
            // A full file becomes the one old copy and a new one is begun. Another thread may have
            // done so already: only the file still at the path is moved, so the old copy is never
            // replaced by a file just begun.
            struct stat named {};
            if (opened.st_size + static_cast<off_t>(record.size()) > static_cast<off_t>(kMaxFileSize) &&
                ::stat(file_.c_str(), &named) == 0 && named.st_ino == opened.st_ino &&
                named.st_dev == opened.st_dev) {
                std::filesystem::path old = file_;
                old += ".1";
                ::rename(file_.c_str(), old.c_str());
                ::close(fd);
                fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
                if (fd < 0) return;
            }
        }
        // O_APPEND makes each record one write at the end, so records of concurrent writers never mix.
        writeAll(fd, record.data(), record.size());
        ::close(fd);
    } catch (...) {
    }
}

void StderrLogSink::write(std::string_view line) noexcept {
    try {
        std::string record(line);
        record.push_back('\n');
        writeAll(STDERR_FILENO, record.data(), record.size());
    } catch (...) {
    }
}

SyslogSink::SyslogSink() {
    ::openlog("quenlit", LOG_PID, LOG_USER);
}

void SyslogSink::write(std::string_view line) noexcept {
    ::syslog(LOG_NOTICE, "%.*s", static_cast<int>(line.size()), line.data());
}

}  // namespace quenlit::linux_backend
