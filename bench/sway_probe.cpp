// Measures programs from the outside on a running sway, as a person would see them:
//   sway_probe start LOG COMMAND [ARGS...]   start COMMAND with the Wayland protocol log on (written
//                                            to LOG), print the milliseconds until it first shows
//                                            a picture (a surface committed with a buffer), then
//                                            its pid; the program keeps running
//   sway_probe shown TITLE ROUNDS COMMAND [ARGS...]
//                                            run COMMAND, time until a window titled TITLE has the
//                                            focus; run it again and wait until that window is
//                                            gone; repeat; print the median, the fastest and
//                                            the slowest in milliseconds
//   sway_probe key-shown TITLE ROUNDS COMMAND [ARGS...]
//                                            the same, timed from the moment sway ran the key
//                                            binding COMMAND's key press triggered (a key typed by
//                                            a program: its own start is not the figure)
// The first works for any client (fuzzel's layer surface too); the others read sway's window and
// binding events. Exit status 1 when nothing shows within 10 s.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLimit = std::chrono::seconds(10);

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

pid_t spawn(const std::vector<std::string>& command, const std::vector<std::string>& extraEnvironment,
            const char* stderrPath) {
    std::vector<char*> argv;
    for (const auto& a : command)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment(extraEnvironment);
    for (char** e = environ; *e != nullptr; ++e)
        environment.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// Reads the protocol log as it grows until a surface is committed with a buffer attached.
int start(const std::string& logPath, const std::vector<std::string>& command) {
    const auto begin = Clock::now();
    const pid_t pid = spawn(command, {"WAYLAND_DEBUG=client"}, logPath.c_str());
    if (pid < 0) return 1;
    std::map<std::string, bool> attached;  // surface -> a buffer is attached
    std::string pending;
    std::ifstream in;
    std::streamoff offset = 0;
    while (Clock::now() - begin < kLimit) {
        if (!in.is_open()) in.open(logPath);
        in.clear();
        in.seekg(offset);
        std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        offset += static_cast<std::streamoff>(chunk.size());
        pending += chunk;
        std::size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            const auto at = line.find("-> wl_surface@");
            if (at == std::string::npos) continue;
            const auto dot = line.find('.', at);
            const std::string surface = line.substr(at + 3, dot - at - 3);
            const std::string request = line.substr(dot + 1);
            if (request.starts_with("attach(")) attached[surface] = request.find("nil") == std::string::npos;
            if (request.starts_with("commit(") && attached[surface]) {
                std::printf("%.1f %d\n", msSince(begin), pid);
                return 0;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    kill(pid, SIGTERM);
    return 1;
}

// --- sway's window events ---

int connectSway() {
    const char* path = std::getenv("SWAYSOCK");
    if (path == nullptr) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof(address.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return -1;
    const std::string payload = R"(["window", "binding"])";
    std::string message = "i3-ipc";
    const std::uint32_t length = static_cast<std::uint32_t>(payload.size());
    const std::uint32_t type = 2;
    message.append(reinterpret_cast<const char*>(&length), 4);
    message.append(reinterpret_cast<const char*>(&type), 4);
    message += payload;
    if (::write(fd, message.data(), message.size()) != static_cast<ssize_t>(message.size())) return -1;
    return fd;
}

// The next event's body, or empty after the deadline.
std::string nextEvent(int fd, std::string& buffer, Clock::time_point deadline) {
    for (;;) {
        if (buffer.size() >= 14) {
            std::uint32_t length = 0;
            std::memcpy(&length, buffer.data() + 6, 4);
            if (buffer.size() >= 14 + length) {
                std::string body = buffer.substr(14, length);
                buffer.erase(0, 14 + length);
                return body;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return {};
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) return {};
        char chunk[65536];
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n <= 0) return {};
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

bool run(const std::vector<std::string>& command) {
    const pid_t pid = spawn(command, {}, "/dev/null");
    if (pid < 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Waits for a window event of `change` whose container carries the title.
bool waitFor(int fd, std::string& buffer, const std::string& change, const std::string& title) {
    const auto deadline = Clock::now() + kLimit;
    const std::string changeText = "\"change\": \"" + change + "\"";
    const std::string titleText = "\"name\": \"" + title + "\"";
    for (;;) {
        const std::string event = nextEvent(fd, buffer, deadline);
        if (event.empty()) return false;
        if (event.find(changeText) != std::string::npos && event.find(titleText) != std::string::npos)
            return true;
    }
}

// Waits for sway's binding event (the key press reached sway and its binding ran); its time.
std::optional<Clock::time_point> bindingRan(int fd, std::string& buffer) {
    const auto deadline = Clock::now() + kLimit;
    for (;;) {
        const std::string event = nextEvent(fd, buffer, deadline);
        if (event.empty()) return std::nullopt;
        if (event.find("\"binding\"") != std::string::npos && event.find("\"command\"") != std::string::npos)
            return Clock::now();
    }
}

int failedRound(int round, const char* what) {
    std::fprintf(stderr, "sway_probe: round %d: %s within %lld s\n", round + 1, what,
                 static_cast<long long>(kLimit.count()));
    return 1;
}

int shown(const std::string& title, int rounds, const std::vector<std::string>& command, bool fromKey) {
    const int fd = connectSway();
    if (fd < 0) return 1;
    std::string buffer;
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        auto begin = Clock::now();
        // The key program runs on while sway handles the key: the events are read meanwhile.
        const pid_t pid = spawn(command, {}, "/dev/null");
        if (pid < 0) return 1;
        if (fromKey) {
            const auto ran = bindingRan(fd, buffer);
            if (!ran) return failedRound(i, "sway ran no key binding");
            begin = *ran;
        }
        if (!waitFor(fd, buffer, "focus", title)) return failedRound(i, "the window never had the focus");
        times.push_back(msSince(begin));
        int status = 0;
        waitpid(pid, &status, 0);
        if (!run(command)) return failedRound(i, "the command failed when run to hide the window");
        if (!waitFor(fd, buffer, "close", title)) return failedRound(i, "the window never closed");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f %.1f %.1f\n", times[times.size() / 2], times.front(), times.back());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 3 && args[0] == "start") return start(args[1], {args.begin() + 2, args.end()});
    if (args.size() >= 4 && args[0] == "shown")
        return shown(args[1], std::max(1, std::atoi(args[2].c_str())), {args.begin() + 3, args.end()}, false);
    if (args.size() >= 4 && args[0] == "key-shown")
        return shown(args[1], std::max(1, std::atoi(args[2].c_str())), {args.begin() + 3, args.end()}, true);
    std::fprintf(stderr,
                 "usage: sway_probe start LOG COMMAND... | shown|key-shown TITLE ROUNDS COMMAND...\n");
    return 2;
}
