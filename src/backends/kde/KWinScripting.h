#pragma once

// KWin's scripting over D-Bus: the one way a Wayland client reaches other programs' windows on
// Plasma (their list with pid, class and frame; activating; moving and resizing). Each call writes a
// short JavaScript file, has KWin load and run it (org.kde.KWin /Scripting loadScript, then run on
// the script's object) and unloads it again; the script answers through callDBus with one JSON
// text to an object this class exports on the session bus, matched to the call by a token.
//
// Every script starts with a prelude that hides the differences between Plasma 5.27 and Plasma 6:
// `kwin.windows()` (clientList/windowList), `kwin.active()` and `kwin.activate(w)`
// (activeClient/activeWindow), `kwin.describe(w)` (the JSON of one window), `kwin.find(id)` and
// `kwin.answer(value)`, decided at run time inside KWin. A script that throws answers with its
// error, so the caller does not wait out the bound.
//
// A call blocks for the answer, at most kAnswerWait, without running the event loop: a window
// event handled in the middle of the core's work (a panel losing the keyboard while a choice is
// being carried out) would pull its state away under it. The answer object lives on a thread of its
// own, so the answer arrives while the main thread waits. Main thread only, after the
// QCoreApplication exists.

#include "base/Result.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QThread;

namespace quenlit::kde {

class KWinScripting {
  public:
    // KWin answers in 2–3 ms (it reads the script on a thread of its own, then runs it); the bound
    // is for a KWin that hangs, which would otherwise hang us too.
    static constexpr std::chrono::milliseconds kAnswerWait{1000};

    // Exports the answer object on the session bus; absent (with the reason) without a session bus
    // or without KWin on it.
    static Result<std::unique_ptr<KWinScripting>> connect();
    ~KWinScripting();
    KWinScripting(const KWinScripting&) = delete;
    KWinScripting& operator=(const KWinScripting&) = delete;

    // Runs `body` (JavaScript, after the prelude) in KWin and returns the JSON text it passed to
    // kwin.answer(); fails when KWin refused the script, the script threw (with its error) or no
    // answer came in time.
    Result<std::string> run(const std::string& body);
    // How many scripts run() has sent so far: a change says KWin may have acted since.
    unsigned long scriptsSent() const { return next_ - 1; }

    // The prelude, exposed for tests: the script KWin would run for `body`.
    static std::string script(const std::string& body, const std::string& service, const std::string& token);

    class Receiver;
    // What the answer thread hands the main thread.
    struct Answers {
        std::mutex mutex;
        std::condition_variable arrived;
        std::map<std::string, std::pair<bool, std::string>> byToken;  // (failed, JSON or error)
    };

  private:
    KWinScripting();
    std::shared_ptr<Answers> answers_;
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<Receiver> receiver_;
    std::string service_;
    std::string folder_;
    unsigned long next_ = 1;
};

// A text as a JavaScript string literal, quoted and escaped.
std::string javaScriptString(const std::string& text);

}  // namespace quenlit::kde
