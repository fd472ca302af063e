#include "backends/linux/ControlSocket.h"

#include "base/Log.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
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

std::optional<std::string_view> knownRefusal(std::string_view answer) {
    constexpr std::string_view prefix = "error: ";
    if (!answer.starts_with(prefix)) return std::nullopt;
    answer.remove_prefix(prefix.size());
    for (std::string_view known : {kMalformed, kBusy, kLauncherNotReady, kClipboardNotReady}) {
        if (answer == known) return known;
    }
    return std::nullopt;
}

namespace {

// Whether `folder` is a folder (not a link) of this user that nobody else may enter; otherwise why
// not, in words.
std::optional<std::string> notPrivate(const std::filesystem::path& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return folder.string() + ": " + std::strerror(errno);
    if (!S_ISDIR(info.st_mode)) return folder.string() + " is not a folder";
    if (info.st_uid != ::getuid())
        return folder.string() + " belongs to another user (uid " + std::to_string(info.st_uid) + ")";
    if ((info.st_mode & 0777) != 0700) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return folder.string() + " is open to other users (mode " + mode + ", not 0700)";
    }
    return std::nullopt;
}

}  // namespace

Result<std::filesystem::path> instanceFolder(const XdgDirs& dirs,
                                             const std::optional<std::filesystem::path>& temporary) {
    if (dirs.runtimeDir && !notPrivate(*dirs.runtimeDir)) return *dirs.runtimeDir;
    std::error_code ec;
    const std::filesystem::path base = temporary ? *temporary : std::filesystem::temp_directory_path(ec);
    if (ec) return Failure{"no temporary folder: " + ec.message()};
    const std::filesystem::path own = base / ("quenlit-" + std::to_string(::getuid()));
    if (::mkdir(own.c_str(), 0700) == 0) {
        // The umask may have taken more than it should; the folder is new and ours.
        ::chmod(own.c_str(), 0700);
    } else if (errno != EEXIST) {
        return Failure{"cannot make " + own.string() + ": " + std::strerror(errno)};
    }
    if (auto why = notPrivate(own)) return Failure{*why};
    return own;
}

std::filesystem::path instanceFile(const std::filesystem::path& folder, std::string_view display,
                                   std::string_view extension) {
    std::string name = "quenlit-" + std::to_string(::getuid()) + "-";
    for (char c : display)
        name.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return folder / (name + std::string(extension));
}

std::filesystem::path socketPath(const std::filesystem::path& folder, std::string_view display) {
    return instanceFile(folder, display, ".sock");
}

Result<std::unique_ptr<InstanceLock>> InstanceLock::open(const std::filesystem::path& path) {
    // Never through a link, and nothing is truncated here: what lies at the path is only written
    // once it is known to be our own plain file and the lock is held.
    Descriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    if (fd.get() < 0) {
        if (errno == ELOOP) return Failure{path.string() + " is a symbolic link, not a lock file"};
        return Failure{path.string() + ": " + std::strerror(errno)};
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return Failure{path.string() + ": " + std::strerror(errno)};
    if (!S_ISREG(info.st_mode) || info.st_uid != ::getuid() || info.st_nlink != 1)
        return Failure{path.string() + " is not a lock file of this user"};
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd.release()));
}

InstanceLock::~InstanceLock() {
    ::close(fd_);
}

bool InstanceLock::acquire(long& owner) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        char text[32] = {};
        const ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
        owner = n > 0 ? std::strtol(text, nullptr, 10) : 0;
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) == 0) [[maybe_unused]]
        auto n = ::pwrite(fd_, pid.data(), pid.size(), 0);
    return true;
}

Result<std::unique_ptr<Server>> Server::listen(const std::filesystem::path& path, Handler handler) {
    const auto address = addressOf(path);
    if (!address) return Failure{"control socket path too long: " + path.string()};
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return Failure{std::string("control socket: ") + std::strerror(errno)};
    Descriptor poller(::epoll_create1(EPOLL_CLOEXEC));
    Descriptor timer(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (poller.get() < 0 || timer.get() < 0)
        return Failure{std::string("control socket: ") + std::strerror(errno)};
    ::unlink(path.c_str());
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        return Failure{"control socket " + path.string() + ": " + std::strerror(errno)};
    }
    // Peers are checked one by one as well; the mode keeps other users from connecting at all.
    epoll_event listening{EPOLLIN, {.fd = fd.get()}};
    epoll_event expiring{EPOLLIN, {.fd = timer.get()}};
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd.get(), 8) != 0 ||
        ::epoll_ctl(poller.get(), EPOLL_CTL_ADD, fd.get(), &listening) != 0 ||
        ::epoll_ctl(poller.get(), EPOLL_CTL_ADD, timer.get(), &expiring) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(path.c_str());
        return Failure{"control socket " + path.string() + ": " + reason};
    }
    return std::unique_ptr<Server>(
        new Server(fd.release(), poller.release(), timer.release(), path, std::move(handler)));
}

Server::Server(int listener, int poller, int timer, std::filesystem::path path, Handler handler)
    : listener_(listener),
      poller_(poller),
      timer_(timer),
      path_(std::move(path)),
      handler_(std::move(handler)) {}

Server::~Server() {
    for (Client& client : clients_)
        ::close(client.fd);
    ::close(listener_);
    ::close(timer_);
    ::close(poller_);
    ::unlink(path_.c_str());
}

void Server::serve() {
    // Empties the ready list, so the descriptor stops being readable once the work is done.
    epoll_event ready[kMaxWaiting + 2];
    while (::epoll_wait(poller_, ready, static_cast<int>(std::size(ready)), 0) < 0 && errno == EINTR) {
    }
    std::uint64_t expirations = 0;
    [[maybe_unused]] auto n = ::read(timer_, &expirations, sizeof expirations);
    acceptWaiting();
    const Clock::time_point now = Clock::now();
    std::erase_if(clients_, [&](Client& client) {
        if (readFrom(client)) return true;
        if (client.deadline > now) return false;
        refuse(client, kMalformed);
        return true;
    });
    armTimer();
}

void Server::acceptWaiting() {
    for (;;) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // EAGAIN: nobody else waits
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
            log::write("control: refused a peer of uid " + std::to_string(peer.uid));
            ::close(connection);
            continue;
        }
        if (clients_.size() >= kMaxWaiting) {
            refuse(clients_.front(), kBusy);
            clients_.pop_front();
        }
        epoll_event readable{EPOLLIN | EPOLLRDHUP, {.fd = connection}};
        if (::epoll_ctl(poller_, EPOLL_CTL_ADD, connection, &readable) != 0) {
            ::close(connection);
            continue;
        }
        clients_.push_back({connection, {}, Clock::now() + kRequestWait});
    }
}

bool Server::readFrom(Client& client) {
    char buffer[256];
    for (;;) {
        if (client.bytes.find('\n') != std::string::npos || client.bytes.size() > kMaxRequest) break;
        const ssize_t n = ::read(client.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;  // more may come
        if (n <= 0) break;                                                     // the client is done
        client.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    const auto request = parseRequest(client.bytes);
    if (request) {
        answer(client, *request);
    } else {
        refuse(client, kMalformed);
    }
    return true;
}

void Server::refuse(Client& client, std::string_view why) {
    log::write("control: refused " + std::string(why == kMalformed ? "a malformed request" : "a request") +
               " (" + std::to_string(client.bytes.size()) + " bytes)");
    writeAll(client.fd, "error: " + std::string(why) + "\n");
    close(client);
}

void Server::answer(Client& client, Request request) {
    std::string reply = handler_(request);
    const std::string line = requestLine(request);
    log::write("control: " + line.substr(0, line.size() - 1) + " → " + reply);
    writeAll(client.fd, reply + "\n");
    close(client);
}

void Server::close(Client& client) {
    ::epoll_ctl(poller_, EPOLL_CTL_DEL, client.fd, nullptr);
    ::close(client.fd);
    client.fd = -1;
}

void Server::armTimer() {
    itimerspec when{};
    if (!clients_.empty()) {
        Clock::time_point first = clients_.front().deadline;
        for (const Client& client : clients_)
            first = std::min(first, client.deadline);
        const auto left = std::max<Clock::duration>(first - Clock::now(), std::chrono::milliseconds(1));
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        when.it_value.tv_sec = static_cast<time_t>(seconds.count());
        when.it_value.tv_nsec =
            static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count());
    }
    ::timerfd_settime(timer_, 0, &when, nullptr);
}

Outcome send(const std::filesystem::path& path, Request request, std::chrono::milliseconds timeout,
             std::optional<uid_t> serverUid) {
    const auto address = addressOf(path);
    if (!address) return {Outcome::Kind::failed, "control socket path too long: " + path.string()};
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return {Outcome::Kind::failed, std::strerror(errno)};
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED) return {Outcome::Kind::notRunning, ""};
        return {Outcome::Kind::failed, path.string() + ": " + std::strerror(errno)};
    }
    // A socket another user listens on is not our instance: it gets no request and is not believed.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return {Outcome::Kind::failed, path.string() + ": " + std::strerror(errno)};
    if (peer.uid != serverUid.value_or(::geteuid()))
        return {Outcome::Kind::failed, path.string() + " is served by another user (uid " +
                                           std::to_string(peer.uid) + "), not by quenlit"};
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
