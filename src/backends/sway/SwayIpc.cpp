#include "backends/sway/SwayIpc.h"

#include "base/Log.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quenlit::sway {
namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeader = sizeof(kMagic) + 8;
constexpr std::uint32_t kEventBit = 0x80000000u;
constexpr std::uint32_t kWorkspaceEvent = kEventBit | 0u;
constexpr std::uint32_t kWindowEvent = kEventBit | 3u;
constexpr std::uint32_t kBindingEvent = kEventBit | 5u;
// A tree of a few hundred windows is a few hundred kilobytes; anything far larger is not sway.
constexpr std::uint32_t kMaxBody = 64u << 20;
constexpr auto kReplyBound = std::chrono::seconds(1);
// What the tree and the outputs said is kept at most this long, even while the loop does not turn.
constexpr auto kReadingsKeptAtMost = std::chrono::milliseconds(50);

std::string frame(SwayIpc::MessageType type, std::string_view payload) {
    std::string message(kMagic, sizeof(kMagic));
    const auto length = static_cast<std::uint32_t>(payload.size());
    const auto code = static_cast<std::uint32_t>(type);
    message.append(reinterpret_cast<const char*>(&length), 4);
    message.append(reinterpret_cast<const char*>(&code), 4);
    message.append(payload);
    return message;
}

// Waits for the descriptor until the deadline; false when it passed.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

Result<> writeAll(int fd, std::string_view bytes, std::chrono::steady_clock::time_point deadline) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, POLLOUT, deadline)) continue;
        return Failure{n < 0 && errno != EAGAIN ? std::string("sway's socket: ") + std::strerror(errno)
                                                : "sway did not take the request within 1 s"};
    }
    return {};
}

Result<std::string> readExactly(int fd, std::size_t size, std::chrono::steady_clock::time_point deadline) {
    std::string bytes(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(fd, bytes.data() + got, size - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return Failure{"sway closed its socket"};
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, POLLIN, deadline)) continue;
        return Failure{errno == EAGAIN || errno == EWOULDBLOCK
                           ? "sway did not answer within 1 s"
                           : std::string("sway's socket: ") + std::strerror(errno)};
    }
    return bytes;
}

struct Header {
    std::uint32_t length = 0;
    std::uint32_t type = 0;
};

std::optional<Header> parseHeader(std::string_view bytes) {
    if (bytes.size() < kHeader || bytes.substr(0, sizeof(kMagic)) != std::string_view(kMagic, sizeof(kMagic)))
        return std::nullopt;
    Header header;
    std::memcpy(&header.length, bytes.data() + sizeof(kMagic), 4);
    std::memcpy(&header.type, bytes.data() + sizeof(kMagic) + 4, 4);
    if (header.length > kMaxBody) return std::nullopt;
    return header;
}

Result<int> openSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return Failure{path.empty() ? "SWAYSOCK is not set" : "the socket path is too long: " + path};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return Failure{std::string("cannot make a socket: ") + std::strerror(errno)};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(fd);
        return Failure{"cannot connect to " + path + ": " + reason};
    }
    return fd;
}

// --- JSON ---

using simdjson::dom::element;

std::string stringField(element object, const char* key) {
    std::string_view value;
    if (object[key].get_string().get(value) != simdjson::SUCCESS) return {};
    return std::string(value);
}

bool boolField(element object, const char* key) {
    bool value = false;
    if (object[key].get_bool().get(value) != simdjson::SUCCESS) return false;
    return value;
}

double numberField(element object, const char* key) {
    double value = 0;
    if (object[key].get_double().get(value) == simdjson::SUCCESS) return value;
    std::int64_t whole = 0;
    if (object[key].get_int64().get(whole) == simdjson::SUCCESS) return static_cast<double>(whole);
    return 0;
}

platform::Rect rectField(element object, const char* key) {
    element rect;
    if (object[key].get(rect) != simdjson::SUCCESS) return {};
    return {numberField(rect, "x"), numberField(rect, "y"), numberField(rect, "width"),
            numberField(rect, "height")};
}

// A container that holds a program's surface: Wayland windows carry an app id, XWayland ones a
// window_properties object.
bool isWindow(element node) {
    const std::string type = stringField(node, "type");
    if (type != "con" && type != "floating_con") return false;
    element ignored;
    const bool hasAppId = node["app_id"].get_string().error() == simdjson::SUCCESS;
    const bool hasProperties = node["window_properties"].get(ignored) == simdjson::SUCCESS;
    return hasAppId || hasProperties;
}

SwayWindow windowOf(element node, const std::string& workspace, bool floating) {
    SwayWindow window;
    std::int64_t id = 0;
    if (node["id"].get_int64().get(id) == simdjson::SUCCESS) window.id = static_cast<long>(id);
    std::int64_t pid = 0;
    if (node["pid"].get_int64().get(pid) == simdjson::SUCCESS) window.pid = static_cast<int>(pid);
    window.appId = stringField(node, "app_id");
    window.xwayland = stringField(node, "shell") == "xwayland";
    if (window.appId.empty()) {
        element properties;
        if (node["window_properties"].get(properties) == simdjson::SUCCESS)
            window.appId = stringField(properties, "class");
    }
    window.name = stringField(node, "name");
    window.focused = boolField(node, "focused");
    std::int64_t fullscreenMode = 0;
    if (node["fullscreen_mode"].get_int64().get(fullscreenMode) == simdjson::SUCCESS)
        window.fullscreen = fullscreenMode != 0;
    window.visible = boolField(node, "visible");
    window.floating = floating || stringField(node, "type") == "floating_con";
    // "rect" leaves out the title bar, which "deco_rect" gives: the outer frame holds both.
    window.rect = rectField(node, "rect");
    const double title = rectField(node, "deco_rect").height;
    window.rect.y -= title;
    window.rect.height += title;
    window.workspace = workspace;
    const platform::Rect drawn = rectField(node, "geometry");
    window.drawnWidth = drawn.width;
    window.drawnHeight = drawn.height;
    return window;
}

void collectWindows(element node, std::string workspace, bool floating, std::vector<SwayWindow>& out) {
    if (stringField(node, "type") == "workspace") workspace = stringField(node, "name");
    if (isWindow(node)) out.push_back(windowOf(node, workspace, floating));
    simdjson::dom::array children;
    if (node["nodes"].get_array().get(children) == simdjson::SUCCESS)
        for (element child : children)
            collectWindows(child, workspace, floating, out);
    if (node["floating_nodes"].get_array().get(children) == simdjson::SUCCESS)
        for (element child : children)
            collectWindows(child, workspace, true, out);
}

long idOf(element node) {
    std::int64_t id = 0;
    if (node["id"].get_int64().get(id) != simdjson::SUCCESS) return 0;
    return static_cast<long>(id);
}

// Each container lists its children most recently focused first ("focus"): walking the tree in
// that order meets the windows from the most recently focused to the least.
void rankByFocus(element node, std::vector<long>& order) {
    if (isWindow(node)) order.push_back(idOf(node));
    std::vector<element> children;
    simdjson::dom::array list;
    for (const char* key : {"nodes", "floating_nodes"}) {
        if (node[key].get_array().get(list) != simdjson::SUCCESS) continue;
        for (element child : list)
            children.push_back(child);
    }
    simdjson::dom::array focus;
    if (node["focus"].get_array().get(focus) == simdjson::SUCCESS) {
        for (element entry : focus) {
            std::int64_t id = 0;
            if (entry.get_int64().get(id) != simdjson::SUCCESS) continue;
            auto it = std::find_if(children.begin(), children.end(),
                                   [&](element child) { return idOf(child) == id; });
            if (it == children.end()) continue;
            rankByFocus(*it, order);
            children.erase(it);
        }
    }
    for (element child : children)
        rankByFocus(child, order);
}

}  // namespace

namespace swayjson {

std::optional<std::vector<SwayWindow>> windows(std::string_view getTreeReply) {
    simdjson::dom::parser parser;
    element root;
    if (parser.parse(getTreeReply.data(), getTreeReply.size()).get(root) != simdjson::SUCCESS)
        return std::nullopt;
    if (!root.is_object()) return std::nullopt;
    std::vector<SwayWindow> out;
    collectWindows(root, {}, false, out);
    std::vector<long> order;
    rankByFocus(root, order);
    for (SwayWindow& window : out) {
        const auto rank = std::find(order.begin(), order.end(), window.id) - order.begin();
        window.focusRank = static_cast<int>(rank);
    }
    return out;
}

std::optional<std::vector<SwayOutput>> outputs(std::string_view getOutputsReply,
                                               std::string_view getWorkspacesReply) {
    simdjson::dom::parser outputParser;
    simdjson::dom::parser workspaceParser;
    simdjson::dom::array outputList;
    simdjson::dom::array workspaceList;
    if (outputParser.parse(getOutputsReply.data(), getOutputsReply.size()).get_array().get(outputList) !=
            simdjson::SUCCESS ||
        workspaceParser.parse(getWorkspacesReply.data(), getWorkspacesReply.size())
                .get_array()
                .get(workspaceList) != simdjson::SUCCESS)
        return std::nullopt;
    std::vector<SwayOutput> out;
    for (element entry : outputList) {
        SwayOutput output;
        output.name = stringField(entry, "name");
        output.active = boolField(entry, "active");
        output.focused = boolField(entry, "focused");
        output.rect = rectField(entry, "rect");
        output.usable = output.rect;
        const std::string current = stringField(entry, "current_workspace");
        for (element workspace : workspaceList) {
            if (stringField(workspace, "output") == output.name && stringField(workspace, "name") == current)
                output.usable = rectField(workspace, "rect");
        }
        out.push_back(std::move(output));
    }
    return out;
}

Result<> commandOutcome(std::string_view runCommandReply) {
    simdjson::dom::parser parser;
    simdjson::dom::array results;
    if (parser.parse(runCommandReply.data(), runCommandReply.size()).get_array().get(results) !=
        simdjson::SUCCESS)
        return Failure{"sway's answer is not a list of results"};
    for (element result : results) {
        if (boolField(result, "success")) continue;
        const std::string error = stringField(result, "error");
        return Failure{error.empty() ? "sway refused the command" : error};
    }
    return {};
}

}  // namespace swayjson

Result<std::unique_ptr<SwayIpc>> SwayIpc::connect(std::string path) {
    if (path.empty()) {
        const char* fromEnvironment = std::getenv("SWAYSOCK");
        path = fromEnvironment != nullptr ? fromEnvironment : "";
    }
    auto fd = openSocket(path);
    if (!fd) return Failure{fd.error().reason};
    return std::unique_ptr<SwayIpc>(new SwayIpc(fd.value(), std::move(path)));
}

SwayIpc::SwayIpc(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

SwayIpc::~SwayIpc() {
    eventNotifier_.reset();
    if (eventFd_ >= 0) ::close(eventFd_);
    if (fd_ >= 0) ::close(fd_);
}

namespace {

Result<std::string> connectionBroke(int& fd, const std::string& reason) {
    // A reply cut short leaves the stream out of step: later requests would read its tail.
    ::close(fd);
    fd = -1;
    log::write("sway: " + reason + " — window commands and panel placement stop working");
    return Failure{reason};
}

}  // namespace

Result<std::string> SwayIpc::readReply(MessageType type, std::chrono::steady_clock::time_point deadline) {
    auto head = readExactly(fd_, kHeader, deadline);
    if (!head) return connectionBroke(fd_, head.error().reason);
    const auto header = parseHeader(head.value());
    if (!header) return connectionBroke(fd_, "sway's reply has no i3-ipc header");
    auto body = readExactly(fd_, header->length, deadline);
    if (!body) return connectionBroke(fd_, body.error().reason);
    if (header->type != static_cast<std::uint32_t>(type))
        return connectionBroke(fd_, "sway answered another request");
    return body;
}

void SwayIpc::readLateReplies(std::chrono::steady_clock::time_point deadline) {
    std::vector<std::string> waiting;
    waiting.swap(lateReplies_);
    for (const std::string& onRefusal : waiting) {
        if (fd_ < 0) return;
        auto reply = readReply(MessageType::runCommand, deadline);
        if (!reply) return;
        if (auto outcome = swayjson::commandOutcome(reply.value()); !outcome)
            log::write(onRefusal + outcome.error().reason);
    }
}

Result<std::string> SwayIpc::request(MessageType type, std::string_view payload) {
    // A command changes what the tree says.
    if (type == MessageType::runCommand) forgetReadings();
    if (fd_ < 0) return Failure{"the connection to sway is closed"};
    const auto deadline = std::chrono::steady_clock::now() + kReplyBound;
    readLateReplies(deadline);
    if (fd_ < 0) return Failure{"the connection to sway is closed"};
    if (auto sent = writeAll(fd_, frame(type, payload), deadline); !sent)
        return connectionBroke(fd_, sent.error().reason);
    return readReply(type, deadline);
}

void SwayIpc::commandLater(std::string_view commands, std::string onRefusal) {
    forgetReadings();
    if (fd_ < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + kReplyBound;
    if (auto sent = writeAll(fd_, frame(MessageType::runCommand, commands), deadline); !sent) {
        // The log says the connection broke; later requests fail with it.
        (void)connectionBroke(fd_, sent.error().reason);
        return;
    }
    lateReplies_.push_back(std::move(onRefusal));
}

Result<> SwayIpc::command(std::string_view commands) {
    auto reply = request(MessageType::runCommand, commands);
    if (!reply) return Failure{reply.error().reason};
    return swayjson::commandOutcome(reply.value());
}

void SwayIpc::keepUntilTheLoopTurns() {
    const bool kept = tree_ || outputs_;
    if (!kept) readAt_ = std::chrono::steady_clock::now();
    if (!expiry_) expiry_ = std::make_unique<QObject>();
    if (!kept) QTimer::singleShot(0, expiry_.get(), [this] { forgetReadings(); });
}

void SwayIpc::forgetReadings() {
    tree_.reset();
    outputs_.reset();
}

std::optional<std::vector<SwayWindow>> SwayIpc::windows() {
    if (std::chrono::steady_clock::now() - readAt_ > kReadingsKeptAtMost) forgetReadings();
    if (tree_) return tree_;
    auto reply = request(MessageType::getTree);
    if (!reply) return std::nullopt;
    auto windows = swayjson::windows(reply.value());
    if (windows) {
        keepUntilTheLoopTurns();
        tree_ = windows;
    }
    return windows;
}

std::optional<SwayWindow> SwayIpc::focusedWindow() {
    auto all = windows();
    if (!all) return std::nullopt;
    for (auto& window : *all)
        if (window.focused) return std::move(window);
    return std::nullopt;
}

std::optional<std::vector<SwayOutput>> SwayIpc::outputs() {
    if (std::chrono::steady_clock::now() - readAt_ > kReadingsKeptAtMost) forgetReadings();
    if (outputs_) return outputs_;
    auto outputReply = request(MessageType::getOutputs);
    if (!outputReply) return std::nullopt;
    auto workspaceReply = request(MessageType::getWorkspaces);
    if (!workspaceReply) return std::nullopt;
    auto outputs = swayjson::outputs(outputReply.value(), workspaceReply.value());
    if (outputs) {
        keepUntilTheLoopTurns();
        outputs_ = outputs;
    }
    return outputs;
}

std::optional<std::string> SwayIpc::config() {
    auto reply = request(MessageType::getConfig);
    if (!reply) return std::nullopt;
    simdjson::dom::parser parser;
    std::string_view text;
    if (parser.parse(reply.value()).get_object()["config"].get_string().get(text) != simdjson::SUCCESS)
        return std::nullopt;
    return std::string(text);
}

void SwayIpc::watchWindows() {
    if (eventFd_ != -1) return;  // watching, or the events already broke
    auto fd = openSocket(path_);
    if (!fd) {
        log::write("sway: cannot watch windows: " + fd.error().reason);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kReplyBound;
    // Workspace events carry the configuration's reload; binding events the hotkeys' presses.
    std::string_view payload = R"(["window","workspace","binding"])";
    // The reply comes before any event: whether sway took the subscription is known at once.
    bool subscribed = writeAll(fd.value(), frame(MessageType::subscribe, payload), deadline).has_value();
    if (subscribed) {
        auto head = readExactly(fd.value(), kHeader, deadline);
        const auto header = head ? parseHeader(head.value()) : std::nullopt;
        auto body =
            header ? readExactly(fd.value(), header->length, deadline) : Result<std::string>(Failure{""});
        simdjson::dom::parser parser;
        bool success = false;
        subscribed =
            body && header->type == static_cast<std::uint32_t>(MessageType::subscribe) &&
            parser.parse(body.value()).get_object()["success"].get_bool().get(success) == simdjson::SUCCESS &&
            success;
    }
    if (!subscribed) {
        ::close(fd.value());
        eventFd_ = -2;  // not again
        log::write("sway: cannot subscribe to window events");
        return;
    }
    eventFd_ = fd.value();
    eventNotifier_ = std::make_unique<QSocketNotifier>(eventFd_, QSocketNotifier::Read);
    QObject::connect(eventNotifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
}

void SwayIpc::readEvents() {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(eventFd_, buffer, sizeof(buffer), 0);
        if (n > 0) {
            eventBuffer_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            log::write("sway: the window events stopped (sway closed the socket)");
            eventNotifier_.reset();
            ::close(eventFd_);
            eventFd_ = -2;  // not again
            return;
        }
        break;
    }
    // The events that arrived together are read after sway sent them all: one reading of the
    // tree afterwards says what each of them changed.
    forgetReadings();
    simdjson::dom::parser parser;
    while (eventBuffer_.size() >= kHeader) {
        const auto header = parseHeader(eventBuffer_);
        if (!header) {
            log::write("sway: an event without an i3-ipc header — the window events stopped");
            eventNotifier_.reset();
            ::close(eventFd_);
            eventFd_ = -2;
            eventBuffer_.clear();
            return;
        }
        if (eventBuffer_.size() < kHeader + header->length) return;
        const std::string body = eventBuffer_.substr(kHeader, header->length);
        eventBuffer_.erase(0, kHeader + header->length);
        if (header->type != kWindowEvent && header->type != kWorkspaceEvent && header->type != kBindingEvent)
            continue;  // the subscription's reply
        element event;
        if (parser.parse(body).get(event) != simdjson::SUCCESS) continue;
        if (header->type == kWorkspaceEvent) {
            if (stringField(event, "change") == "reload") configReloaded.emit();
            continue;
        }
        if (header->type == kBindingEvent) {
            element binding;
            if (stringField(event, "change") == "run" && event["binding"].get(binding) == simdjson::SUCCESS)
                bindingRan.emit(stringField(binding, "command"));
            continue;
        }
        element container;
        if (event["container"].get(container) != simdjson::SUCCESS) continue;
        const std::string change = stringField(event, "change");
        windowChanged.emit(change, windowOf(container, {}, false));
    }
}

std::string SwayIpc::quoteForCriteria(std::string_view text) {
    // Criteria values are regular expressions (PCRE) in double quotes.
    std::string out = "\"";
    for (char c : text) {
        if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr && c != '\0') out += '\\';
        if (c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace quenlit::sway
