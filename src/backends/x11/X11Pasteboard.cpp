#include "backends/x11/X11Pasteboard.h"

#include "backends/linux/ClipboardTypes.h"
#include "base/Log.h"
#include "base/Text.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMetaObject>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace quenlit::x11 {
namespace {

using linux_backend::latin1ToUtf8;
using linux_backend::parseGnomeCopiedFiles;
using linux_backend::parseUriList;
using linux_backend::pasteboardTypesForTargets;
using linux_backend::targetForType;

constexpr std::size_t kTextLimit = linux_backend::kClipboardTextLimit;
constexpr std::size_t kDataLimit = linux_backend::kClipboardDataLimit;

QClipboard* clipboard() {
    return QGuiApplication::clipboard();
}

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string bytes(const QByteArray& a) {
    return std::string(a.constData(), static_cast<std::size_t>(a.size()));
}

// What we published ourselves, when the CLIPBOARD is still ours.
const QMimeData* ownData() {
    QClipboard* board = clipboard();
    if (!board->ownsClipboard()) return nullptr;
    return board->mimeData(QClipboard::Clipboard);
}

using Clock = std::chrono::steady_clock;

// The types given for an owner that is left alone: a name nothing matches, so nothing is captured
// and the clipboard does not count as left empty either.
constexpr std::string_view kUnresponsive = "x-quenlit-unresponsive-owner";

// One copy of another program, read on the reader thread: the targets once, then each read within
// what is left of the copy's bound.
class CopyReader final : public platform::Pasteboard {
  public:
    CopyReader(SelectionReader& reader, Clock::time_point deadline, std::vector<std::string>& logLines)
        : reader_(reader), deadline_(deadline), logLines_(logLines) {}

    bool timedOut() const { return timedOut_; }

    long changeCount() override { return 0; }
    std::vector<std::string> types() override {
        if (reader_.owner() == XCB_WINDOW_NONE) return {};
        bool timedOut = false;
        if (auto names = reader_.targets(left(), timedOut)) {
            targets_ = std::move(*names);
        } else if (timedOut) {
            timedOut_ = true;
            logLines_.push_back(
                "clipboard: the clipboard's owner did not answer within 1 s — its content is not recorded");
            return {std::string(kUnresponsive)};
        } else if (reader_.owner() != XCB_WINDOW_NONE) {
            // An owner without a target list (old programs) is asked for plain text.
            targets_ = {"UTF8_STRING", "STRING"};
        }
        return pasteboardTypesForTargets(targets_);
    }
    std::vector<platform::PasteboardItem> items() override {
        std::vector<platform::PasteboardItem> out;
        if (std::find(targets_.begin(), targets_.end(), platform::pasteboardType::fileURL) == targets_.end())
            return out;
        std::optional<std::string> list = read(std::string(platform::pasteboardType::fileURL), kTextLimit);
        if (!list) return out;
        for (std::string& url : parseUriList(*list)) {
            platform::PasteboardItem item;
            item.data.emplace_back(std::string(platform::pasteboardType::fileURL), std::move(url));
            out.push_back(std::move(item));
        }
        return out;
    }
    std::optional<std::string> data(std::string_view type) override {
        if (type == platform::pasteboardType::string) return string(type);
        const std::optional<std::string> target = targetForType(type, targets_);
        if (!target) return std::nullopt;
        return read(*target, kDataLimit);
    }
    std::optional<std::string> string(std::string_view type) override {
        const std::optional<std::string> target = targetForType(type, targets_);
        if (!target) return std::nullopt;
        std::optional<std::string> text = read(*target, kTextLimit);
        if (!text) return std::nullopt;
        // Some programs end the text with the C string's terminator.
        while (!text->empty() && text->back() == '\0')
            text->pop_back();
        return text::validUtf8(*text);
    }
    std::optional<std::vector<std::string>> legacyFilenames() override {
        auto raw = data(platform::pasteboardType::legacyFilenames);
        if (!raw) return std::nullopt;
        return parseGnomeCopiedFiles(*raw);
    }

    // A reading of someone else's copy: nothing is written through it.
    Result<> write(const std::vector<platform::PasteboardOffer>&) override {
        return Failure::unsupported("a copy being read is not written to");
    }

  private:
    std::chrono::milliseconds left() const {
        return std::max(std::chrono::milliseconds(0),
                        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()));
    }

    std::optional<std::string> read(const std::string& target, std::size_t limit) {
        if (timedOut_) return std::nullopt;
        SelectionReader::Outcome outcome = reader_.read(target, left(), limit);
        using Kind = SelectionReader::Outcome::Kind;
        switch (outcome.kind) {
            case Kind::ok:
                if (outcome.type == "STRING") return latin1ToUtf8(outcome.bytes);
                return std::move(outcome.bytes);
            case Kind::timedOut:
                timedOut_ = true;
                logLines_.push_back("clipboard: reading " + target +
                                    " from the clipboard's owner took over 1 s — abandoned");
                return std::nullopt;
            case Kind::tooLarge:
                logLines_.push_back("clipboard: " + target + " on the clipboard is larger than " +
                                    std::to_string(limit >> 20) + " MB — skipped");
                return std::nullopt;
            case Kind::noOwner:
            case Kind::refused:
                return std::nullopt;
        }
        return std::nullopt;
    }

    SelectionReader& reader_;
    Clock::time_point deadline_;
    std::vector<std::string>& logLines_;
    std::vector<std::string> targets_;
    bool timedOut_ = false;
};

}  // namespace

X11Pasteboard::X11Pasteboard(std::unique_ptr<SelectionReader> reader) : reader_(std::move(reader)) {
    if (!reader_) return;
    readable_ = std::make_unique<QSocketNotifier>(reader_->fileDescriptor(), QSocketNotifier::Read);
    QObject::connect(readable_.get(), &QSocketNotifier::activated, [this] { announceChanges(); });
    copyReader_ = reader_->openReader();
    if (copyReader_) thread_ = std::thread([this] { readCopies(); });
}

X11Pasteboard::~X11Pasteboard() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    // A read under way ends within its bound.
    thread_.join();
}

void X11Pasteboard::readCurrentContent(std::vector<std::string> stopTypes,
                                       std::function<void(platform::PasteboardContent)> done) {
    if (!thread_.joinable()) {
        done(platform::readContent(*this, stopTypes));
        return;
    }
    Request request{std::move(stopTypes), std::move(done), std::nullopt};
    // What we wrote ourselves is read from Qt here, and waits its turn behind the reads before it.
    if (ownData() != nullptr) request.ready = platform::readContent(*this, request.stopTypes);
    {
        std::lock_guard lock(mutex_);
        // A read not started yet would read the same copy as this one.
        if (!requests_.empty() && !requests_.back().ready && !request.ready) {
            requests_.back() = std::move(request);
        } else {
            requests_.push_back(std::move(request));
        }
    }
    wake_.notify_one();
}

void X11Pasteboard::readCopies() {
    for (;;) {
        Request request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !requests_.empty(); });
            if (stopping_) return;
            request = std::move(requests_.front());
            requests_.pop_front();
        }
        std::vector<std::string> logLines;
        platform::PasteboardContent content =
            request.ready ? std::move(*request.ready) : readCopy(request, logLines);
        QMetaObject::invokeMethod(
            readable_.get(),
            [done = std::move(request.done), content = std::move(content),
             logLines = std::move(logLines)]() mutable {
                for (const std::string& line : logLines)
                    log::write(line);
                done(std::move(content));
            },
            Qt::QueuedConnection);
    }
}

platform::PasteboardContent X11Pasteboard::readCopy(const Request& request,
                                                    std::vector<std::string>& logLines) {
    const Clock::time_point now = Clock::now();
    const xcb_window_t owner = copyReader_->owner();
    // The owners that went before this one (the reply above comes after their events): a window id
    // comes back on another program's window once its own is gone, and that one starts afresh.
    copyReader_->takeChanges();
    for (xcb_window_t gone : copyReader_->takeGoneOwners())
        strikes_.erase(gone);
    if (owner == XCB_WINDOW_NONE) return {};
    if (auto known = strikes_.find(owner); known != strikes_.end() && known->second.leftAloneUntil > now) {
        platform::PasteboardContent content;
        content.types = {std::string(kUnresponsive)};
        return content;
    }
    // Owners left alone long enough get their turn again; single misses of many owners are forgotten.
    std::erase_if(strikes_, [now, many = strikes_.size() > 64](const auto& entry) {
        const Clock::time_point until = entry.second.leftAloneUntil;
        return until != Clock::time_point{} ? until <= now : many;
    });

    CopyReader copy(*copyReader_, now + kReadBound, logLines);
    platform::PasteboardContent content = platform::readContent(copy, request.stopTypes);
    if (!copy.timedOut()) {
        strikes_.erase(owner);
        return content;
    }
    Strikes& strikes = strikes_[owner];
    if (++strikes.timeouts >= 2) {
        strikes.timeouts = 0;
        strikes.leftAloneUntil = Clock::now() + kShunFor;
        char window[16];
        std::snprintf(window, sizeof window, "0x%x", owner);
        logLines.push_back(std::string("clipboard: the clipboard's owner (window ") + window +
                           ") ran out of time twice in a row — left alone for " +
                           std::to_string(kShunFor.count()) + " s");
    }
    // A copy that ran out of time is not recorded in part.
    content = {};
    content.types = {std::string(kUnresponsive)};
    return content;
}

void X11Pasteboard::announceChanges() {
    announcementScheduled_ = false;
    if (!reader_ || announcing_) return;
    announcing_ = true;
    // Reading the new owner while announcing may bring further changes; they are announced in turn.
    for (;;) {
        const std::vector<platform::PasteboardChange> changes = reader_->takeChanges();
        if (changes.empty()) break;
        for (platform::PasteboardChange change : changes)
            changed.emit(change);
    }
    announcing_ = false;
}

void X11Pasteboard::scheduleAnnouncements() {
    // Events that came in with a reply are already off the socket, so its notifier stays quiet.
    if (!reader_ || announcing_ || announcementScheduled_) return;
    announcementScheduled_ = true;
    QTimer::singleShot(0, readable_.get(), [this] { announceChanges(); });
}

long X11Pasteboard::changeCount() {
    if (!reader_) return 0;
    const long count = reader_->ownerChanges();
    if (reader_->hasChanges()) scheduleAnnouncements();
    return count;
}

const std::vector<std::string>& X11Pasteboard::ownerTargets() {
    if (!reader_) return targets_;
    const long count = changeCount();
    if (count == cachedFor_) return targets_;
    cachedFor_ = count;
    unresponsive_ = false;
    targets_.clear();
    if (reader_->owner() == XCB_WINDOW_NONE) return targets_;
    bool timedOut = false;
    scheduleAnnouncements();
    if (auto names = reader_->targets(kReadBound, timedOut)) {
        targets_ = std::move(*names);
    } else if (timedOut) {
        // One that does not answer at all is left alone until the clipboard changes again.
        unresponsive_ = true;
        log::write(
            "clipboard: the clipboard's owner did not answer within 1 s — its content is not recorded");
    } else if (reader_->owner() != XCB_WINDOW_NONE) {
        // An owner without a target list (old programs) is asked for plain text.
        targets_ = {"UTF8_STRING", "STRING"};
    }
    return targets_;
}

bool X11Pasteboard::offers(std::string_view target) {
    const auto& targets = ownerTargets();
    return std::find(targets.begin(), targets.end(), target) != targets.end();
}

std::optional<std::string> X11Pasteboard::readOwner(std::string_view target, std::size_t limit) {
    ownerTargets();
    if (!reader_ || unresponsive_) return std::nullopt;
    SelectionReader::Outcome outcome = reader_->read(target, kReadBound, limit);
    scheduleAnnouncements();
    using Kind = SelectionReader::Outcome::Kind;
    switch (outcome.kind) {
        case Kind::ok:
            if (outcome.type == "STRING") return latin1ToUtf8(outcome.bytes);
            return std::move(outcome.bytes);
        case Kind::timedOut:
            unresponsive_ = true;
            log::write("clipboard: reading " + std::string(target) +
                       " from the clipboard's owner took over 1 s — abandoned");
            return std::nullopt;
        case Kind::tooLarge:
            log::write("clipboard: " + std::string(target) + " on the clipboard is larger than " +
                       std::to_string(limit >> 20) + " MB — skipped");
            return std::nullopt;
        case Kind::noOwner:
        case Kind::refused:
            return std::nullopt;
    }
    return std::nullopt;
}

std::vector<std::string> X11Pasteboard::types() {
    if (const QMimeData* own = ownData()) {
        std::vector<std::string> formats;
        for (const QString& f : own->formats())
            formats.push_back(f == QLatin1String("text/plain") ? std::string(platform::pasteboardType::string)
                                                               : f.toStdString());
        return formats;
    }
    // Another program's copy is read on the reader thread; here only whether there is one is told,
    // without waiting for its owner.
    if (!reader_ || reader_->owner() == XCB_WINDOW_NONE) return {};
    if (thread_.joinable()) return {std::string(kUnresponsive)};
    if (ownerTargets(); unresponsive_) return {std::string(kUnresponsive)};
    return pasteboardTypesForTargets(ownerTargets());
}

std::vector<platform::PasteboardItem> X11Pasteboard::items() {
    std::optional<std::string> list;
    if (const QMimeData* own = ownData()) {
        if (own->hasFormat("text/uri-list")) list = bytes(own->data("text/uri-list"));
    } else if (offers(platform::pasteboardType::fileURL)) {
        list = readOwner(platform::pasteboardType::fileURL, kTextLimit);
    }
    std::vector<platform::PasteboardItem> out;
    if (!list) return out;
    // A multi-file copy is one URL list: each URL is an item of its own, as file managers mean it.
    for (std::string& url : parseUriList(*list)) {
        platform::PasteboardItem item;
        item.data.emplace_back(std::string(platform::pasteboardType::fileURL), std::move(url));
        out.push_back(std::move(item));
    }
    return out;
}

std::optional<std::string> X11Pasteboard::data(std::string_view type) {
    if (type == platform::pasteboardType::string) return string(type);
    if (const QMimeData* own = ownData()) {
        if (!own->hasFormat(qs(type))) return std::nullopt;
        return bytes(own->data(qs(type)));
    }
    const std::optional<std::string> target = targetForType(type, ownerTargets());
    if (!target) return std::nullopt;
    return readOwner(*target, kDataLimit);
}

std::optional<std::string> X11Pasteboard::string(std::string_view type) {
    if (const QMimeData* own = ownData()) {
        if (type == platform::pasteboardType::string) {
            if (!own->hasText()) return std::nullopt;
            return own->text().toStdString();
        }
        if (!own->hasFormat(qs(type))) return std::nullopt;
        return bytes(own->data(qs(type)));
    }
    const std::optional<std::string> target = targetForType(type, ownerTargets());
    if (!target) return std::nullopt;
    std::optional<std::string> text = readOwner(*target, kTextLimit);
    if (!text) return std::nullopt;
    // Some programs end the text with the C string's terminator.
    while (!text->empty() && text->back() == '\0')
        text->pop_back();
    return text::validUtf8(*text);
}

std::optional<std::vector<std::string>> X11Pasteboard::legacyFilenames() {
    auto raw = data(platform::pasteboardType::legacyFilenames);
    if (!raw) return std::nullopt;
    return parseGnomeCopiedFiles(*raw);
}

Result<> X11Pasteboard::write(const std::vector<platform::PasteboardOffer>& offers) {
    pending_ = offers;
    publish();
    return {};
}

void X11Pasteboard::publish() {
    auto* mime = new QMimeData();  // the clipboard takes ownership
    for (const auto& [type, value] : pending_) {
        if (type == platform::pasteboardType::string) {
            mime->setText(qs(value));
        } else if (type == platform::pasteboardType::fileURL) {
            // The list as written (setUrls would rewrite the URL); Qt offers it under the two other
            // names programs read URL lists by, text/x-moz-url and plain text.
            mime->setData(QStringLiteral("text/uri-list"), QByteArray::fromStdString(value + "\r\n"));
        } else {
            mime->setData(qs(type), QByteArray(value.data(), static_cast<qsizetype>(value.size())));
        }
    }
    clipboard()->setMimeData(mime, QClipboard::Clipboard);
}

bool X11Pasteboard::mirrorToPrimary() {
    const QMimeData* own = ownData();
    if (own == nullptr) return false;
    auto* copy = new QMimeData();
    for (const QString& format : own->formats())
        copy->setData(format, own->data(format));
    clipboard()->setMimeData(copy, QClipboard::Selection);
    return true;
}

}  // namespace quenlit::x11
