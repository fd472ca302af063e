#pragma once

// The diagnostic log. One call writes one record: "Quenlit focus: " and the message, handed to
// every installed sink (the desktop program installs the log file, standard error and the system
// journal; the command line installs none, or standard error with --verbose).
//
// Callable from any thread. Sinks are installed once at start-up, before other threads run;
// writing takes no lock.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::log {

inline constexpr std::string_view kPrefix = "Quenlit focus: ";

class Sink {
  public:
    virtual ~Sink() = default;
    // `line` is the prefix and the message, without a timestamp or line feed. Must not throw.
    virtual void write(std::string_view line) noexcept = 0;
};

// Replaces the installed sinks. The previous set stays valid for writers still using it.
void installSinks(std::vector<std::shared_ptr<Sink>> sinks);

void write(std::string_view message) noexcept;

// "2026-12-06T13:02:42Z": UTC, whole seconds.
std::string isoTimestamp(std::chrono::system_clock::time_point t);

// A sink that keeps the lines in memory, for tests and for reading back what was logged.
class MemorySink final : public Sink {
  public:
    void write(std::string_view line) noexcept override;
    std::vector<std::string> lines() const;
    void clear();

  private:
    struct Impl;
    std::shared_ptr<Impl> impl_ = makeImpl();
    static std::shared_ptr<Impl> makeImpl();
};

}  // namespace quenlit::log
