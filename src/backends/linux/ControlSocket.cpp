#include "backends/linux/ControlSocket.h"

#include "base/Log.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace quenlit::linux_backend::control {
namespace {

struct Line {
    Request request;
    std::string_view text;
};
constexpr Line kLines[] = {
    {Request::showLauncher, "show launcher"},
    {Request::toggleLauncher, "toggle launcher"},
    {Request::toggleClipboard, "toggle clipboard"},
};

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

std::optional<sockaddr_un> addressOf(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.empty() || text.size() >= sizeof address.sun_path) return std::nullopt;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return address;
}

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads until end of file, more than `cap` bytes, or the deadline; false on a read error or when
// the deadline passed first.
bool readAll(int fd, std::string& into, std::size_t cap, Clock::time_point deadline, bool stopAtLineFeed) {
    char buffer[256];
    while (into.size() <= cap) {
        if (stopAtLineFeed && into.find('\n') != std::string::npos) return true;
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        into.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a peer that does not read loses its answer
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

std::optional<Request> parseRequest(std::string_view bytes) {
    if (bytes.size() > kMaxRequest || bytes.empty() || bytes.back() != '\n') return std::nullopt;
    bytes.remove_suffix(1);
    for (const auto& line : kLines) {
        if (bytes == line.text) return line.request;
    }
    return std::nullopt;
}

std::string requestLine(Request request) {
    for (const auto& line : kLines) {
        if (line.request == request) return std::string(line.text) + "\n";
    }
    return {};
}

std::filesystem::path instanceFile(const XdgDirs& dirs, std::string_view display,
                                   std::string_view extension) {
    const std::filesystem::path folder = dirs.runtimeDir.value_or(std::filesystem::temp_directory_path());
    std::string name = "quenlit-" + std::to_string(::getuid()) + "-";
    for (char c : display)
        name.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return folder / (name + std::string(extension));
}

std::filesystem::path socketPath(const XdgDirs& dirs, std::string_view display) {
    return instanceFile(dirs, display, ".sock");
}

Result<std::unique_ptr<Server>> Server::listen(const std::filesystem::path& path, Handler handler) {
    const auto address = addressOf(path);
    if (!address) return Failure{"control socket path too long: " + path.string()};
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return Failure{std::string("control socket: ") + std::strerror(errno)};
    ::unlink(path.c_str());
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        return Failure{"control socket " + path.string() + ": " + std::strerror(errno)};
    }
    // Peers are checked one by one as well; the mode keeps other users from connecting at all.
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd.get(), 8) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(path.c_str());
        return Failure{"control socket " + path.string() + ": " + reason};
    }
    return std::unique_ptr<Server>(new Server(fd.release(), path, std::move(handler)));
}

Server::Server(int fd, std::filesystem::path path, Handler handler)
    : fd_(fd), path_(std::move(path)), handler_(std::move(handler)) {}

Server::~Server() {
    ::close(fd_);
    ::unlink(path_.c_str());
}

void Server::acceptPending() {
    for (;;) {
        const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // EAGAIN: nobody else waits
        }
        Descriptor closer(connection);
        answer(connection);
    }
}

void Server::answer(int connection) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
        log::write("control: refused a peer of uid " + std::to_string(peer.uid));
        return;
    }
    std::string bytes;
    const bool complete = readAll(connection, bytes, kMaxRequest, Clock::now() + kRequestWait, true);
    const auto request = complete ? parseRequest(bytes) : std::nullopt;
    if (!request) {
        log::write("control: refused a malformed request (" + std::to_string(bytes.size()) + " bytes)");
        writeAll(connection, "error: malformed request\n");
        return;
    }
    std::string reply = handler_(*request);
    log::write("control: " + requestLine(*request).substr(0, requestLine(*request).size() - 1) + " → " +
               reply);
    writeAll(connection, reply + "\n");
}

Outcome send(const std::filesystem::path& path, Request request, std::chrono::milliseconds timeout) {
    const auto address = addressOf(path);
    if (!address) return {Outcome::Kind::failed, "control socket path too long: " + path.string()};
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return {Outcome::Kind::failed, std::strerror(errno)};
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED) return {Outcome::Kind::notRunning, ""};
        return {Outcome::Kind::failed, path.string() + ": " + std::strerror(errno)};
    }
    const std::string line = requestLine(request);
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = ::send(fd.get(), rest.data(), rest.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {Outcome::Kind::failed, std::string("sending: ") + std::strerror(errno)};
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    ::shutdown(fd.get(), SHUT_WR);
    std::string reply;
    if (!readAll(fd.get(), reply, kMaxReply, Clock::now() + timeout, false)) {
        return {Outcome::Kind::failed, "no answer from the running instance"};
    }
    const std::size_t end = reply.find('\n');
    if (end == std::string::npos || reply.size() > kMaxReply) {
        return {Outcome::Kind::failed, "no answer from the running instance"};
    }
    return {Outcome::Kind::answered, reply.substr(0, end)};
}

}  // namespace quenlit::linux_backend::control
