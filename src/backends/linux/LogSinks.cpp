#include "backends/linux/LogSinks.h"

#include <fcntl.h>
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
        int fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return;
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
