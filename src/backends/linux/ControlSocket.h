#pragma once

// The running desktop program's control channel: a Unix socket per user and display, through
// which `quenlit toggle launcher|clipboard` (bound to keys in a window manager or a desktop's own
// shortcuts) and a second `quenlit` reach the running instance.
//
// One request per connection: a single line, at most kMaxRequest bytes with its line feed. The
// answer is one line, "ok" or "error: " and the reason, after which the server closes the
// connection. Only peers of the same user are answered (the socket is also mode 0600); a malformed
// or oversized request is refused with "error: malformed request" and has no effect.

#include "base/Paths.h"
#include "base/Result.h"

#include <chrono>
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

// A file of the instance for this user and `display`: "quenlit-UID-DISPLAY" (the display's
// characters other than letters and digits as "_") with `extension`, in $XDG_RUNTIME_DIR, else in
// the temporary folder.
std::filesystem::path instanceFile(const XdgDirs& dirs, std::string_view display, std::string_view extension);
// The control socket of the instance on `display`.
std::filesystem::path socketPath(const XdgDirs& dirs, std::string_view display);

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

    // The listening socket, to watch for readability on the event loop.
    int descriptor() const { return fd_; }
    // Answers every connection waiting now. A peer of another user is closed unanswered; a peer
    // that has not sent its request within kRequestWait is refused, so a stuck client holds the
    // event loop no longer than that.
    void acceptPending();

    static constexpr std::chrono::milliseconds kRequestWait{250};

  private:
    Server(int fd, std::filesystem::path path, Handler handler);
    void answer(int connection);

    int fd_;
    std::filesystem::path path_;
    Handler handler_;
};

struct Outcome {
    enum class Kind { answered, notRunning, failed };
    Kind kind = Kind::failed;
    std::string text;  // answered: the answer line without its line feed; failed: the reason
};

// Sends one request to the instance listening at `path` and waits up to `timeout` for its answer.
// notRunning when nothing listens there (no socket, or a socket left by an instance that ended).
Outcome send(const std::filesystem::path& path, Request request,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

}  // namespace quenlit::linux_backend::control
