#include "backends/wayland/DataControlPasteboard.h"

#include "backends/linux/ClipboardTypes.h"
#include "backends/wayland/WaylandConnection.h"
#include "base/Log.h"
#include "base/Text.h"

#include <wayland-client.h>
#include <wlr-data-control-unstable-v1-client-protocol.h>

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

namespace quenlit::wayland {
namespace {

using Clock = std::chrono::steady_clock;
using linux_backend::kClipboardDataLimit;
using linux_backend::kClipboardTextLimit;

// The MIME types text is offered under, as X11 programs are offered it.
constexpr std::array<std::string_view, 5> kTextMimeTypes = {"text/plain;charset=utf-8", "UTF8_STRING",
                                                            "text/plain", "TEXT", "STRING"};
// A reader that takes nothing for this long is let go, so a stuck program holds no memory of ours.
constexpr int kStalledWriteMilliseconds = 5000;

const std::string kUnresponsiveOwner = "x-quenlit-unresponsive-owner";

// A write to a pipe whose reader has gone fails with EPIPE instead of ending the program with
// SIGPIPE.
ssize_t writeWithoutSigpipe(int fd, const char* bytes, std::size_t size) {
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const ssize_t written = ::write(fd, bytes, size);
    const int error = errno;
    if (written < 0 && error == EPIPE && sigismember(&pendingBefore, SIGPIPE) == 0) {
        const timespec none{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

std::vector<std::string_view> mimeTypesFor(std::string_view type) {
    if (type == platform::pasteboardType::string) return {kTextMimeTypes.begin(), kTextMimeTypes.end()};
    return {type};
}

}  // namespace

// Answers one request for our data: writes while the pipe takes it, from the event loop, and
// closes the descriptor when done, when the reader has gone or when it has stalled.
class DataControlPasteboard::Writer {
  public:
    Writer(int fd, std::shared_ptr<const std::string> bytes) : fd_(fd), bytes_(std::move(bytes)) {
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        write();
        if (done()) return;
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            write();
            if (!done()) stall_->start();
        });
        stall_ = std::make_unique<QTimer>();
        stall_->setSingleShot(true);
        stall_->setInterval(kStalledWriteMilliseconds);
        QObject::connect(stall_.get(), &QTimer::timeout, [this] { finish(); });
        stall_->start();
    }
    ~Writer() { finish(); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool done() const { return fd_ < 0; }

  private:
    void write() {
        while (fd_ >= 0 && written_ < bytes_->size()) {
            const ssize_t n = writeWithoutSigpipe(fd_, bytes_->data() + written_, bytes_->size() - written_);
            if (n > 0) {
                written_ += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EAGAIN) {
                return;
            } else {
                break;  // the reader has gone
            }
        }
        finish();
    }

    void finish() {
        if (notifier_) notifier_->setEnabled(false);
        if (stall_) stall_->stop();
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
        bytes_.reset();
    }

    int fd_;
    std::shared_ptr<const std::string> bytes_;
    std::size_t written_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTimer> stall_;
};

DataControlPasteboard::DataControlPasteboard(WaylandConnection& connection) : connection_(connection) {
    zwlr_data_control_manager_v1* manager = connection_.dataControlManager();
    if (manager == nullptr || connection_.seat() == nullptr || connection_.broken()) return;
    device_ = zwlr_data_control_manager_v1_get_data_device(manager, connection_.seat());
    static const zwlr_data_control_device_v1_listener listener = {
        &DataControlPasteboard::onDataOffer,
        &DataControlPasteboard::onSelection,
        &DataControlPasteboard::onFinished,
        &DataControlPasteboard::onPrimarySelection,
    };
    zwlr_data_control_device_v1_add_listener(device_, &listener, this);
    connection_.flush();
}

DataControlPasteboard::~DataControlPasteboard() {
    writers_.clear();
    for (auto& [offer, types] : announced_)
        zwlr_data_control_offer_v1_destroy(offer);
    if (selection_ != nullptr) zwlr_data_control_offer_v1_destroy(selection_);
    for (auto& [source, published] : sources_)
        zwlr_data_control_source_v1_destroy(source);
    if (device_ != nullptr) zwlr_data_control_device_v1_destroy(device_);
    connection_.flush();
}

void DataControlPasteboard::onDataOffer(void* data, zwlr_data_control_device_v1*,
                                        zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    static const zwlr_data_control_offer_v1_listener listener = {&DataControlPasteboard::onOfferType};
    self->announced_[offer];
    zwlr_data_control_offer_v1_add_listener(offer, &listener, self);
}

void DataControlPasteboard::onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* mimeType) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (auto it = self->announced_.find(offer); it != self->announced_.end()) {
        if (std::find(it->second.begin(), it->second.end(), mimeType) == it->second.end())
            it->second.emplace_back(mimeType);
    }
}

void DataControlPasteboard::onSelection(void* data, zwlr_data_control_device_v1*,
                                        zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (self->selection_ != nullptr && self->selection_ != offer)
        zwlr_data_control_offer_v1_destroy(self->selection_);
    self->selection_ = offer;
    self->selectionTypes_.clear();
    if (auto it = self->announced_.find(offer); it != self->announced_.end()) {
        self->selectionTypes_ = std::move(it->second);
        self->announced_.erase(it);
    }
    self->unresponsive_ = false;
    ++self->changes_;
    if (self->announcing_) return;
    self->announcing_ = true;
    self->changed.emit(offer != nullptr ? platform::PasteboardChange::newOwner
                                        : platform::PasteboardChange::cleared);
    self->announcing_ = false;
}

void DataControlPasteboard::onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                               zwlr_data_control_offer_v1* offer) {
    static_cast<DataControlPasteboard*>(data)->dropAnnounced(offer);
}

void DataControlPasteboard::dropAnnounced(zwlr_data_control_offer_v1* offer) {
    if (offer == nullptr) return;
    announced_.erase(offer);
    zwlr_data_control_offer_v1_destroy(offer);
}

void DataControlPasteboard::onFinished(void* data, zwlr_data_control_device_v1*) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    log::write("clipboard: the compositor ended our access to the clipboard — copies are no longer seen");
    for (auto& [offer, types] : self->announced_)
        zwlr_data_control_offer_v1_destroy(offer);
    self->announced_.clear();
    if (self->selection_ != nullptr) zwlr_data_control_offer_v1_destroy(self->selection_);
    self->selection_ = nullptr;
    self->selectionTypes_.clear();
    zwlr_data_control_device_v1_destroy(self->device_);
    self->device_ = nullptr;
}

void DataControlPasteboard::onSend(void* data, zwlr_data_control_source_v1* source, const char* mimeType,
                                   std::int32_t fd) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    self->writers_.remove_if([](const std::unique_ptr<Writer>& writer) { return writer->done(); });
    const auto it = self->sources_.find(source);
    std::shared_ptr<const std::string> content;
    if (it != self->sources_.end()) {
        if (auto found = it->second->byMime.find(mimeType); found != it->second->byMime.end())
            content = found->second;
    }
    if (!content) {
        ::close(fd);
        return;
    }
    auto writer = std::make_unique<Writer>(fd, std::move(content));
    if (!writer->done()) self->writers_.push_back(std::move(writer));
}

void DataControlPasteboard::onCancelled(void* data, zwlr_data_control_source_v1* source) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    self->sources_.erase(source);
    if (self->current_ == source) self->current_ = nullptr;
    zwlr_data_control_source_v1_destroy(source);
}

const DataControlPasteboard::Published* DataControlPasteboard::own() const {
    if (current_ == nullptr) return nullptr;
    const auto it = sources_.find(current_);
    return it == sources_.end() ? nullptr : it->second.get();
}

void DataControlPasteboard::dispatch() {
    if (!announcing_) connection_.dispatchAvailable();
}

long DataControlPasteboard::changeCount() {
    dispatch();
    return changes_;
}

std::optional<std::string> DataControlPasteboard::readOwner(std::string_view mimeType, std::size_t limit) {
    if (selection_ == nullptr || unresponsive_ || connection_.broken()) return std::nullopt;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return std::nullopt;
    const auto deadline = Clock::now() + kReadBound;
    zwlr_data_control_offer_v1_receive(selection_, std::string(mimeType).c_str(), fds[1]);
    // The request must be out before waiting for its answer; the bound covers both.
    connection_.flushWithin(kReadBound);
    ::close(fds[1]);

    std::string bytes;
    std::array<char, 65536> chunk;
    enum class End { data, timedOut, tooLarge, failed } end = End::data;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            end = End::timedOut;
            break;
        }
        pollfd descriptor{fds[0], POLLIN, 0};
        const int ready = ::poll(&descriptor, 1, static_cast<int>(left.count()) + 1);
        if (ready < 0 && errno != EINTR) {
            end = End::failed;
            break;
        }
        if (ready <= 0) continue;
        const ssize_t n = ::read(fds[0], chunk.data(), chunk.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            end = End::failed;
            break;
        }
        bytes.append(chunk.data(), static_cast<std::size_t>(n));
        if (bytes.size() > limit) {
            end = End::tooLarge;
            break;
        }
    }
    ::close(fds[0]);
    switch (end) {
        case End::data:
            return bytes;
        case End::timedOut:
            unresponsive_ = true;
            log::write("clipboard: reading " + std::string(mimeType) +
                       " from the clipboard's owner took over 1 s — abandoned");
            return std::nullopt;
        case End::tooLarge:
            log::write("clipboard: " + std::string(mimeType) + " on the clipboard is larger than " +
                       std::to_string(limit >> 20) + " MB — skipped");
            return std::nullopt;
        case End::failed:
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> DataControlPasteboard::ownBytes(std::string_view type) const {
    const Published* published = own();
    if (published == nullptr) return std::nullopt;
    for (const auto& [t, bytes] : published->byType) {
        if (t == type) return bytes;
    }
    return std::nullopt;
}

std::vector<std::string> DataControlPasteboard::types() {
    dispatch();
    if (const Published* published = own()) {
        std::vector<std::string> out;
        for (const auto& entry : published->byType)
            out.push_back(entry.first);
        return out;
    }
    if (selection_ == nullptr) return {};
    // An owner that does not answer: a name nothing matches, so nothing is captured and the
    // clipboard does not count as left empty either.
    if (unresponsive_) return {kUnresponsiveOwner};
    return linux_backend::pasteboardTypesForTargets(selectionTypes_);
}

std::vector<platform::PasteboardItem> DataControlPasteboard::items() {
    std::optional<std::string> list;
    if (own() != nullptr) {
        list = ownBytes(platform::pasteboardType::fileURL);
    } else if (std::find(selectionTypes_.begin(), selectionTypes_.end(), platform::pasteboardType::fileURL) !=
               selectionTypes_.end()) {
        list = readOwner(platform::pasteboardType::fileURL, kClipboardTextLimit);
    }
    std::vector<platform::PasteboardItem> out;
    if (!list) return out;
    // A multi-file copy is one URL list: each URL is an item of its own, as file managers mean it.
    for (std::string& url : linux_backend::parseUriList(*list)) {
        platform::PasteboardItem item;
        item.data.emplace_back(std::string(platform::pasteboardType::fileURL), std::move(url));
        out.push_back(std::move(item));
    }
    return out;
}

std::optional<std::string> DataControlPasteboard::data(std::string_view type) {
    if (type == platform::pasteboardType::string) return string(type);
    if (own() != nullptr) return ownBytes(type);
    const std::optional<std::string> target = linux_backend::targetForType(type, selectionTypes_);
    if (!target) return std::nullopt;
    return readOwner(*target, kClipboardDataLimit);
}

std::optional<std::string> DataControlPasteboard::string(std::string_view type) {
    if (own() != nullptr) return ownBytes(type);
    const std::optional<std::string> target = linux_backend::targetForType(type, selectionTypes_);
    if (!target) return std::nullopt;
    std::optional<std::string> text = readOwner(*target, kClipboardTextLimit);
    if (!text) return std::nullopt;
    if (linux_backend::isLatin1Target(*target)) text = linux_backend::latin1ToUtf8(*text);
    // Some programs end the text with the C string's terminator.
    while (!text->empty() && text->back() == '\0')
        text->pop_back();
    return text::validUtf8(*text);
}

std::optional<std::vector<std::string>> DataControlPasteboard::legacyFilenames() {
    auto raw = data(platform::pasteboardType::legacyFilenames);
    if (!raw) return std::nullopt;
    return linux_backend::parseGnomeCopiedFiles(*raw);
}

Result<> DataControlPasteboard::write(const std::vector<platform::PasteboardOffer>& offers) {
    if (connection_.dataControlManager() == nullptr || device_ == nullptr || connection_.broken())
        return Failure{"the compositor's clipboard cannot be reached"};
    pending_ = offers;
    publish();
    return {};
}

bool DataControlPasteboard::mirrorToPrimary() {
    zwlr_data_control_manager_v1* manager = connection_.dataControlManager();
    const auto it = sources_.find(current_);
    if (manager == nullptr || device_ == nullptr || connection_.broken() || it == sources_.end() ||
        connection_.dataControlVersion() < ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION_SINCE_VERSION)
        return false;
    const std::shared_ptr<const Published> published = it->second;
    zwlr_data_control_source_v1* source = offerSource(*published);
    // The same bytes, answered as the clipboard's are; it stays out of `current_`, which is the
    // clipboard's own.
    sources_[source] = published;
    zwlr_data_control_device_v1_set_primary_selection(device_, source);
    return connection_.roundtrip();
}

zwlr_data_control_source_v1* DataControlPasteboard::offerSource(const Published& published) {
    zwlr_data_control_source_v1* source =
        zwlr_data_control_manager_v1_create_data_source(connection_.dataControlManager());
    static const zwlr_data_control_source_v1_listener listener = {&DataControlPasteboard::onSend,
                                                                  &DataControlPasteboard::onCancelled};
    zwlr_data_control_source_v1_add_listener(source, &listener, this);
    // In the order the types were set, the text names in their order of preference.
    for (const auto& [type, value] : published.byType) {
        for (std::string_view mime : mimeTypesFor(type))
            zwlr_data_control_source_v1_offer(source, std::string(mime).c_str());
    }
    return source;
}

void DataControlPasteboard::publish() {
    zwlr_data_control_manager_v1* manager = connection_.dataControlManager();
    if (manager == nullptr || device_ == nullptr || connection_.broken()) return;
    auto published = std::make_shared<Published>();
    for (const auto& [type, value] : pending_) {
        // A URL list ends its lines with CRLF, as text/uri-list wants.
        std::string bytes = type == platform::pasteboardType::fileURL ? value + "\r\n" : value;
        auto shared = std::make_shared<const std::string>(bytes);
        for (std::string_view mime : mimeTypesFor(type)) {
            // X's STRING is Latin-1; the other text names are UTF-8.
            const bool latin1 =
                type == platform::pasteboardType::string && linux_backend::isLatin1Target(mime);
            published->byMime.emplace(
                std::string(mime),
                latin1 ? std::make_shared<const std::string>(linux_backend::utf8ToLatin1(bytes)) : shared);
        }
        published->byType.emplace_back(type, std::move(bytes));
    }
    zwlr_data_control_source_v1* source = offerSource(*published);
    sources_[source] = std::move(published);
    current_ = source;
    zwlr_data_control_device_v1_set_selection(device_, source);
    connection_.flush();
}

}  // namespace quenlit::wayland
