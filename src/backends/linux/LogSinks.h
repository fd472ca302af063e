#pragma once

// Where the desktop program's log records go: the log file, standard error and the journal.

#include "base/Log.h"

#include <chrono>
#include <filesystem>
#include <functional>

namespace quenlit::linux_backend {

// Appends "timestamp line\n" to a file with one write, creating its folder and the file (readable by
// the user alone) on first use. Opened and closed per record, so another program may move the file
// away at any time. A record that would take the file past kMaxFileSize first moves it to the same
// name with ".1" appended, replacing the older copy there.
class FileLogSink final : public log::Sink {
  public:
    static constexpr std::size_t kMaxFileSize = 1 << 20;
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    explicit FileLogSink(std::filesystem::path file, Clock clock = &std::chrono::system_clock::now);
    void write(std::string_view line) noexcept override;

  private:
    std::filesystem::path file_;
    Clock clock_;
};

class StderrLogSink final : public log::Sink {
  public:
    void write(std::string_view line) noexcept override;
};

class SyslogSink final : public log::Sink {
  public:
    SyslogSink();
    void write(std::string_view line) noexcept override;
};

}  // namespace quenlit::linux_backend
