#pragma once

// The clipboard through wlr-data-control: the compositor tells every change of the seat's
// selection with an offer listing its MIME types, whoever made it and whether or not a window of
// ours has the focus. The MIME types are given the names the core knows as on X11 (text as plain
// UTF-8 text, image/png as PNG, other raster images in the TIFF slot).
//
// Reading asks the owner to write into a pipe, bounded to a second in all; an owner that does not
// answer in time is not asked again until the selection changes. While the selection is ours,
// reads are answered from memory: asking our own source through a pipe would wait for the main
// thread, which is the one waiting.
//
// Writing publishes one source once every declared type has its data, under the MIME types X11
// programs are offered for it; other programs' requests are answered from the event loop without
// blocking it. The change count rises with every selection event: every copy, our own writes and
// a cleared selection included. The primary selection is not followed; ours can be mirrored to it.
//
// Each selection event is announced as it is dispatched, so the new owner is read before it can
// exit. Data control reports a selection that became empty the same way whether a program
// cleared it (wl-copy --clear, a password manager) or its owner exited: the compositor drops the
// source in both cases and says only "no selection". Every empty selection is therefore
// announced as a clear, which keeps a deliberate clear empty; the price is that on sway an
// entry is not offered again when the program that copied it exits.
//
// Main thread only; destroy before the connection.

#include "platform/Pasteboard.h"

#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace quenlit::wayland {

class WaylandConnection;

class DataControlPasteboard final : public platform::Pasteboard {
  public:
    static constexpr std::chrono::milliseconds kReadBound{1000};

    explicit DataControlPasteboard(WaylandConnection& connection);
    ~DataControlPasteboard() override;
    DataControlPasteboard(const DataControlPasteboard&) = delete;
    DataControlPasteboard& operator=(const DataControlPasteboard&) = delete;

    bool announcesChanges() const override { return device_ != nullptr; }
    long changeCount() override;
    std::vector<std::string> types() override;
    std::vector<platform::PasteboardItem> items() override;
    std::optional<std::string> data(std::string_view type) override;
    std::optional<std::string> string(std::string_view type) override;
    std::optional<std::vector<std::string>> legacyFilenames() override;

    Result<> write(const std::vector<platform::PasteboardOffer>& offers) override;

    // Whether other programs' copies can be seen and read (the compositor offers data control).
    bool canRead() const { return device_ != nullptr; }
    // Offers what we last wrote as the primary selection too, for the programs that paste that
    // (xterm and URxvt through XWayland); false when nothing of ours is the clipboard or the
    // compositor's data control is older than the primary selection.
    bool mirrorToPrimary();

    class Writer;
    // What one source of ours offers: the core's types in order, and the bytes of each MIME type.
    struct Published {
        std::vector<std::pair<std::string, std::string>> byType;  // (core type, bytes)
        std::map<std::string, std::shared_ptr<const std::string>> byMime;
    };

  private:
    static void onDataOffer(void* data, zwlr_data_control_device_v1* device,
                            zwlr_data_control_offer_v1* offer);
    static void onSelection(void* data, zwlr_data_control_device_v1* device,
                            zwlr_data_control_offer_v1* offer);
    static void onFinished(void* data, zwlr_data_control_device_v1* device);
    static void onPrimarySelection(void* data, zwlr_data_control_device_v1* device,
                                   zwlr_data_control_offer_v1* offer);
    static void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* mimeType);
    static void onSend(void* data, zwlr_data_control_source_v1* source, const char* mimeType,
                       std::int32_t fd);
    static void onCancelled(void* data, zwlr_data_control_source_v1* source);

    void dropAnnounced(zwlr_data_control_offer_v1* offer);
    // Reads the compositor's queued events, unless they are being dispatched already.
    void dispatch();
    // The published data while our source is the selection; null otherwise.
    const Published* own() const;
    std::optional<std::string> readOwner(std::string_view mimeType, std::size_t limit);
    std::optional<std::string> ownBytes(std::string_view type) const;
    void publish();
    // A new data source offering what `published` holds, its types in the order they were set,
    // answered by onSend.
    zwlr_data_control_source_v1* offerSource(const Published& published);

    WaylandConnection& connection_;
    zwlr_data_control_device_v1* device_ = nullptr;
    // Offers announced whose selection event has not come yet, with the MIME types seen so far.
    std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> announced_;
    zwlr_data_control_offer_v1* selection_ = nullptr;
    std::vector<std::string> selectionTypes_;
    long changes_ = 0;
    // A selection event is being announced: the events after it wait until it has been read.
    bool announcing_ = false;
    // The owner did not answer within the bound: nothing more is asked of it until it changes.
    bool unresponsive_ = false;

    // Our sources not yet cancelled, each with what it offers; the newest is the selection.
    std::map<zwlr_data_control_source_v1*, std::shared_ptr<const Published>> sources_;
    zwlr_data_control_source_v1* current_ = nullptr;
    std::list<std::unique_ptr<Writer>> writers_;

    std::vector<platform::PasteboardOffer> pending_;
};

}  // namespace quenlit::wayland
