#pragma once

// A helper program of the tests (fixture_window, clipboard_owner) run for one test: started with
// its standard output on a pipe, stopped with SIGTERM when destroyed. Its first line, "ready" or
// "ready <window id>", says it is up.

#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace quenlit::x11 {

using namespace std::chrono_literals;

class Fixture {
  public:
    Fixture(std::vector<std::string> arguments, const std::string& program) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (auto& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
        if (pid_ == 0) return;
        const auto line = nextLine(15000ms);
        ready_ = line.rfind("ready", 0) == 0;
        if (line.rfind("ready ", 0) == 0) window_ = static_cast<xcb_window_t>(std::stoul(line.substr(6)));
    }
    ~Fixture() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;

    int pid() const { return static_cast<int>(pid_); }
    // It said "ready" (with its window, for those that have one) as its first line.
    bool ready() const { return ready_; }
    // Waits until the program exited by itself.
    void waitForExit() {
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    xcb_window_t window() const { return window_; }

    // The next line printed, or "" when none came within the bound.
    // Generous: a loaded machine running the sanitizer build takes seconds to pass a key on.
    std::string nextLine(std::chrono::milliseconds bound = 10000ms) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (true) {
            if (const auto newline = buffer_.find('\n'); newline != std::string::npos) {
                std::string line = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return {};
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[256];
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n <= 0) return {};
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // The next key press line, passing over the modifier keys pressed around it.
    std::string nextKey() {
        while (true) {
            std::string line = nextLine();
            const auto at = line.find("keysym=0x");
            if (at == std::string::npos) return line;
            const unsigned long keysym = std::stoul(line.substr(at + 9), nullptr, 16);
            if (keysym < 0xffe1 || keysym > 0xffee) return line;
        }
    }

  private:
    pid_t pid_ = 0;
    int out_ = -1;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    bool ready_ = false;
    std::string buffer_;
};

}  // namespace quenlit::x11
