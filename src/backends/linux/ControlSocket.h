#pragma once

// The running desktop program's control channel: a Unix socket per user and display, through
// which `quenlit toggle launcher|clipboard` (bound to keys in a window manager or a desktop's own
// shortcuts) and a second `quenlit` reach the running instance.
//
// One request per connection: a single line, at most kMaxRequest bytes with its line feed. The
// answer is one line, "ok" or "error: " and the reason, after which the server closes the
// connection. Only peers of the same user are answered (the socket is also mode 0600, in a folder
// only its user may enter); a malformed or oversized request is refused with
// "error: malformed request" and has no effect. The client, in turn, talks only to a server of its
// own user.

#include "base/Paths.h"
#include "base/Result.h"

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quenlit::linux_backend::control {

enum class Request { showLauncher, toggleLauncher, toggleClipboard };

inline constexpr std::size_t kMaxRequest = 64;
inline constexpr std::size_t kMaxReply = 512;

// The request in `bytes`: exactly one known line ending in a line feed, with nothing after it.
std::optional<Request> parseRequest(std::string_view bytes);
// The line a client sends, with its line feed.
std::string requestLine(Request request);

// The reasons a server gives for refusing a request, after "error: ".
inline constexpr std::string_view kMalformed = "malformed request";
inline constexpr std::string_view kBusy = "too many requests are waiting";
inline constexpr std::string_view kLauncherNotReady = "the launcher is not ready yet";
inline constexpr std::string_view kClipboardNotReady = "the clipboard panel is not available yet";
// The reason in `answer` when it is a refusal this program knows; absent for "ok" and for anything
// else a server might say.
std::optional<std::string_view> knownRefusal(std::string_view answer);

// The folder of this user's instance files: $XDG_RUNTIME_DIR when it is a folder of this user that
// nobody else may enter (mode 0700), else "quenlit-UID" in `temporary` (the temporary folder,
// $TMPDIR or /tmp, when absent), made when missing. Fails when that folder is not this user's alone
// (another user's, a link, or open to others): a folder another user controls could hold a planted
// lock or socket.
Result<std::filesystem::path> instanceFolder(
    const XdgDirs& dirs, const std::optional<std::filesystem::path>& temporary = std::nullopt);
// A file of the instance for this user and `display` in `folder` (see instanceFolder):
// "quenlit-UID-DISPLAY" (the display's characters other than letters and digits as "_") with
// `extension`.
std::filesystem::path instanceFile(const std::filesystem::path& folder, std::string_view display,
                                   std::string_view extension);
// The control socket of the instance on `display`.
std::filesystem::path socketPath(const std::filesystem::path& folder, std::string_view display);

// One instance per user and display: the hotkeys and the clipboard belong to one program. The lock
// is an flock on a regular file of this user, never followed through a link nor truncated before
// it is held; it holds the pid of its holder.
class InstanceLock {
  public:
    // Fails when the file cannot be opened, or what lies at `path` is not a plain file of ours.
    static Result<std::unique_ptr<InstanceLock>> open(const std::filesystem::path& path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process now holds the lock (and the file names its pid); otherwise `owner` is
    // the pid the running instance wrote (0 when unknown).
    bool acquire(long& owner);

  private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

class Server {
  public:
    // The answer to a well-formed request: "ok", or "error: " and the reason.
    using Handler = std::function<std::string(Request)>;

    // Listens at `path`; a file already there is removed first, so only the holder of the instance
    // lock may call this.
    static Result<std::unique_ptr<Server>> listen(const std::filesystem::path& path, Handler handler);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Readable when there is work for serve(): a connection to accept, a request that arrived, or a
    // client whose time ran out. Watch it on the event loop.
    int descriptor() const { return poller_; }
    // Accepts waiting connections and reads what their clients have sent, answering every request
    // that is complete; never waits. A peer of another user is closed unanswered. A client that has
    // not sent its request within kRequestWait is refused; it costs nothing meanwhile. Beyond
    // kMaxWaiting clients waiting at once, the one waiting longest is refused.
    void serve();

    static constexpr std::chrono::milliseconds kRequestWait{1000};
    static constexpr std::size_t kMaxWaiting = 16;

  private:
    using Clock = std::chrono::steady_clock;
    struct Client {
        int fd;
        std::string bytes;
        Clock::time_point deadline;
    };

    Server(int listener, int poller, int timer, std::filesystem::path path, Handler handler);
    void acceptWaiting();
    // Reads what the client sent; true when it is done with (answered or refused).
    bool readFrom(Client& client);
    void refuse(Client& client, std::string_view why);
    void answer(Client& client, Request request);
    void close(Client& client);
    void armTimer();

    int listener_;
    int poller_;
    int timer_;
    std::filesystem::path path_;
    Handler handler_;
    std::deque<Client> clients_;  // oldest first
};

struct Outcome {
    enum class Kind { answered, notRunning, failed };
    Kind kind = Kind::failed;
    std::string text;  // answered: the answer line without its line feed; failed: the reason
};

// Sends one request to the instance listening at `path` and waits up to `timeout` for its answer.
// notRunning when nothing listens there (no socket, or a socket left by an instance that ended);
// failed, without sending anything, when the server runs as another user than `serverUid` (this
// process's own when absent).
Outcome send(const std::filesystem::path& path, Request request,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000),
             std::optional<uid_t> serverUid = std::nullopt);

}  // namespace quenlit::linux_backend::control
