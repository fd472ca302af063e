#pragma once

// The CLIPBOARD selection. Another program's copy is read in one go on a reader thread, with an X
// connection of its own, so a slow or silent owner never holds the event loop: the targets once,
// then what the copy needs, all of it bounded to a second, and handed to the main thread in the
// order the copies were read. An owner that lets two reads in a row run out of time is left alone
// for kShunFor. Its targets are offered under the names the core knows:
// the text targets as plain UTF-8 text, image/png as PNG, any other raster image (JPEG, BMP, GIF,
// WebP, TIFF) in the TIFF slot, which the core decodes and stores as PNG off the main thread.
// What we wrote ourselves is read back from Qt without asking the server.
//
// Writing publishes one QMimeData that holds exactly the declared types, once all of them are set.
// The change count is the reader's count of owner changes: every copy, our own writes included,
// and the owner's exit. Each change is announced from the event loop as soon as the X server
// reports it, so the new owner is read before it can exit.
//
// Main thread only.

#include "backends/x11/SelectionReader.h"
#include "platform/Pasteboard.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QMimeData;
class QSocketNotifier;

namespace quenlit::x11 {

class X11Pasteboard final : public platform::Pasteboard {
  public:
    static constexpr std::chrono::milliseconds kReadBound{1000};
    static constexpr std::chrono::seconds kShunFor{30};

    // After the QGuiApplication exists; `reader` watches and reads the CLIPBOARD selection. Without
    // one (no XFixes) only writing works, and other programs' copies are not seen.
    explicit X11Pasteboard(std::unique_ptr<SelectionReader> reader);
    ~X11Pasteboard() override;

    bool announcesChanges() const override { return reader_ != nullptr; }
    long changeCount() override;
    std::vector<std::string> types() override;
    std::vector<platform::PasteboardItem> items() override;
    std::optional<std::string> data(std::string_view type) override;
    std::optional<std::string> string(std::string_view type) override;
    std::optional<std::vector<std::string>> legacyFilenames() override;
    void readCurrentContent(std::vector<std::string> stopTypes,
                            std::function<void(platform::PasteboardContent)> done) override;

    Result<> write(const std::vector<platform::PasteboardOffer>& offers) override;

    // Offers what we last wrote to the CLIPBOARD as the PRIMARY selection too, for the terminals
    // (xterm, URxvt) whose paste key pastes PRIMARY. False when the CLIPBOARD is not ours.
    bool mirrorToPrimary();
    // Whether other programs' copies can be seen and read.
    bool canRead() const { return reader_ != nullptr; }

  private:
    // The owner's targets for the current owner, asked once per owner change.
    const std::vector<std::string>& ownerTargets();
    bool offers(std::string_view target);
    std::optional<std::string> readOwner(std::string_view target, std::size_t limit);
    void publish();
    // Announces the changes the reader has gathered, until none is left.
    void announceChanges();
    // Announcements gathered while answering a request: announced from the event loop shortly.
    void scheduleAnnouncements();

    struct Request {
        std::vector<std::string> stopTypes;
        std::function<void(platform::PasteboardContent)> done;
        std::optional<platform::PasteboardContent> ready;  // our own copy, read on the main thread
    };
    struct Strikes {
        int timeouts = 0;
        std::chrono::steady_clock::time_point leftAloneUntil{};
    };
    // The reader thread: reads copies until the pasteboard goes.
    void readCopies();
    platform::PasteboardContent readCopy(const Request& request, std::vector<std::string>& logLines);

    std::unique_ptr<SelectionReader> reader_;
    // Used by the reader thread alone.
    std::unique_ptr<SelectionReader> copyReader_;
    std::map<xcb_window_t, Strikes> strikes_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Request> requests_;

    bool stopping_ = false;
    std::thread thread_;
    std::unique_ptr<QSocketNotifier> readable_;
    bool announcing_ = false;
    bool announcementScheduled_ = false;
    long cachedFor_ = -1;
    std::vector<std::string> targets_;
    // The owner did not answer within the bound: nothing more is asked of it until it changes.
    bool unresponsive_ = false;
    std::vector<platform::PasteboardOffer> pending_;
};

}  // namespace quenlit::x11
