#pragma once

// Capture from the clipboard and writing entries back to it. Where the desktop announces each new
// owner of the clipboard (XFixes on X11, data control on sway), the content is read the moment it
// is announced, before a program that copies and exits at once has gone; the clipboard's change
// count is also polled every pollInterval, which is all there is where nothing is announced. New
// content that is not marked as the program's own or as sensitive goes to the sink (a copied
// picture file or image data as an image, a copied file as its path, otherwise the trimmed text).
// Paste-back puts an entry on the clipboard with the program's marker, so it is not recorded
// again.
//
// When the owner of the clipboard exits and takes its content with it, the entry recorded from
// that owner is offered again, provided it is still the newest; a clipboard emptied on purpose (a
// clear, a password manager's timed clear) stays empty, and so does one whose owner's content was
// not recorded (marked sensitive, or unreadable).
//
// Main thread only. A copy is read in one go (off the main thread where the desktop allows it), and
// what needs the files or decoding (copied files, image data) runs on a background task and comes
// back to the main thread; it does nothing once the capture is gone. Copies are recorded one after
// the other, in the order they were made.

#include "base/Signal.h"
#include "base/Uuid.h"
#include "base/WeakSelf.h"
#include "clipboard/CaptureSink.h"
#include "clipboard/ClipboardItem.h"
#include "clipboard/ClipboardPasteboardFiles.h"
#include "platform/ImageCodec.h"
#include "platform/Pasteboard.h"
#include "platform/Scheduler.h"

#include <array>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace quenlit {

class ClipboardCapture {
  public:
    // The program's own marker, written next to everything paste-back puts on the clipboard.
    static constexpr std::string_view internalType = "com.quenlit.internal";
    // Types by which password managers and similar writers ask not to be recorded.
    static constexpr std::array<std::string_view, 4> sensitiveTypes = {
        "org.nspasteboard.ConcealedType",
        "org.nspasteboard.TransientType",
        "com.apple.is-sensitive",
        "x-kde-passwordManagerHint",
    };

    struct Services {
        platform::Scheduler& scheduler;
        platform::Pasteboard& pasteboard;
        platform::ImageCodec& imageCodec;
    };

    // Captured entries go to `sink`, which must outlive the capture.
    ClipboardCapture(Services services, CaptureSink& sink, platform::Seconds pollInterval);
    ClipboardCapture(const ClipboardCapture&) = delete;
    ClipboardCapture& operator=(const ClipboardCapture&) = delete;

    // Takes the clipboard's current content, and follows the clipboard's changes from then on.
    void start();
    void stop();
    bool isRunning() const { return pollSource_.has_value(); }
    // Records the clipboard's content unless it is the program's own or marked sensitive.
    void ingestCurrentPasteboardIfNeeded();
    // Puts the item on the clipboard with the marker. False (and logged) when nothing was written.
    bool write(const ClipboardItem& item);

    platform::Seconds pollInterval() const { return pollInterval_; }
    long lastChangeCount() const { return lastChangeCount_; }

  private:
    void poll();
    void onChange(platform::PasteboardChange change);
    // The owner whose content was last recorded exited: its entry goes back on the clipboard if it
    // is still the newest and the clipboard is still empty.
    void reofferIfLeftEmpty(const Uuid& recorded);
    void republishNewest();
    // What was recorded from the current owner, once the sink has it.
    void recorded(long generation, const Uuid& id);
    // A copy read, to be recorded under the owner generation it was read in.
    struct Copy {
        long generation = 0;
        platform::PasteboardContent content;
    };
    // What a copy gives, worked out on a background task.
    struct Outcome {
        enum class Kind { nothing, image, text, imageFileFailed, tiffFailed, imageTooLarge };
        Kind kind = Kind::nothing;
        std::string value;  // the PNG bytes, the text, or the file name of a failed image file
        platform::PictureSize size;
    };
    void contentRead(long serial, platform::PasteboardContent content);
    // Records the waiting copies in order; one whose work runs in the background holds the others.
    void recordWaiting();
    static Outcome work(const platform::PasteboardContent& content, platform::ImageCodec& codec);
    void apply(long generation, const Outcome& outcome);
    static std::string_view formatName(std::string_view bytes);
    void recordText(long generation, std::string_view text);

    platform::Scheduler& scheduler_;
    platform::Pasteboard& pasteboard_;
    platform::ImageCodec& imageCodec_;
    CaptureSink& sink_;
    platform::Seconds pollInterval_;
    std::optional<platform::TaskHandle> pollSource_;  // the scheduled next poll, while running
    long lastChangeCount_ = -1;
    Connection changes_;  // the pasteboard's announcements, while running
    // Raised for every new owner read; a background capture that comes back under another
    // generation was overtaken by a newer copy.
    long ownerGeneration_ = 0;
    // The entry recorded from the current owner; none when nothing was (yet) recorded from it.
    std::optional<Uuid> recorded_;
    // The current owner went away before its image capture came back.
    bool ownerGoneBeforeRecorded_ = false;
    // Reads of the clipboard asked for; the newest one's content is still on its way while
    // readPending_, and the owner's going or a clear announced meanwhile waits for it.
    long readSerial_ = 0;
    bool readPending_ = false;
    std::optional<platform::PasteboardChange> sinceRead_;
    std::deque<Copy> waiting_;
    bool working_ = false;
    WeakSelf<ClipboardCapture> self_{this};
};

}  // namespace quenlit
