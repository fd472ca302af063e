#pragma once

// The clipboard panel's content as a model: the search query, the history filtered by it and
// grouped under date headings, the selected entry and its preview, pasting the selected entry,
// the actions menu's placement and effects, and the delete-all confirmation. The toolkit's view
// draws what presentation() answers, forwards typing, clicks, right clicks and row frames, and
// scrolls when asked through scrollRequested.
//
// The filtered list is never kept: each use reads it from the store for the current query.
//
// The toolkit calls viewDidAppear() when the view is first shown in its window: that installs the
// menu's callbacks, so Command-K and the menu's actions do nothing before it.
//
// Main thread only. The store is held weakly (everything that needs it does nothing once it is
// gone); the other services, the menu model and the navigation state outlive the view.

#include "base/Signal.h"
#include "base/WeakSelf.h"
#include "clipboard/ClipboardImageThumbnail.h"
#include "clipboard/ClipboardItem.h"
#include "clipboard/ClipboardMenu.h"
#include "clipboard/ClipboardStore.h"
#include "panel/NavigationState.h"
#include "panel/Notifications.h"
#include "panel/PanelList.h"
#include "panel/SearchField.h"
#include "platform/Geometry.h"
#include "platform/ImageCodec.h"
#include "platform/Scheduler.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quenlit {

// The picture of one image entry, as a history row or the preview pane shows it: loaded from the
// thumbnail caches at once when they hold it, otherwise decoded in the background. A new request
// replaces the one in force and drops its picture; destroying the loader cancels its work.
class ClipboardAsyncThumbnail {
  public:
    struct Services {
        platform::Scheduler& scheduler;
        platform::ImageCodec& imageCodec;
        ClipboardThumbnailCache& thumbnails;
    };

    explicit ClipboardAsyncThumbnail(Services services);
    ~ClipboardAsyncThumbnail();
    ClipboardAsyncThumbnail(const ClipboardAsyncThumbnail&) = delete;
    ClipboardAsyncThumbnail& operator=(const ClipboardAsyncThumbnail&) = delete;

    // Asks for the picture of `url` with its larger side at most `maxPixel`. A request with the
    // same file and size as the one in force does nothing; without a file the picture stays empty
    // (the toolkit shows the placeholder).
    void request(const std::optional<std::filesystem::path>& url, double maxPixel);
    const std::optional<platform::Bitmap>& image() const { return image_; }

    // "<path>#<maxPixel>", with an empty path when there is no file.
    static std::string key(const std::optional<std::filesystem::path>& url, double maxPixel);

    // Emitted when image() changed.
    Signal<> changed;

  private:
    Services services_;
    std::optional<std::string> key_;
    std::optional<platform::Bitmap> image_;
    platform::TaskHandle task_;
    WeakSelf<ClipboardAsyncThumbnail> self_{this};
};

class ClipboardView {
  public:
    struct Services {
        platform::Scheduler& scheduler;
        NotificationCenter& notifications;
        platform::ImageCodec& imageCodec;
        // The wall clock that decides the date headings and time labels. Default: the system
        // clock.
        std::function<std::chrono::system_clock::time_point()> now;
        // The thumbnail caches. Default: the process's shared one.
        ClipboardThumbnailCache* thumbnails = nullptr;
    };

    // Pastes an entry into the application that was in front (the delegate's paste sequence).
    using PasteCallback = std::function<void(const ClipboardItem&)>;
    // Hides the panel without giving the focus back. Kept for the panel; the view never calls it.
    using DismissCallback = std::function<void()>;

    ClipboardView(ClipboardStore& store, ClipboardActionsModel& menuModel, NavigationState& navigationState,
                  PasteCallback onPaste, DismissCallback onDismiss, Services services);
    ~ClipboardView();
    ClipboardView(const ClipboardView&) = delete;
    ClipboardView& operator=(const ClipboardView&) = delete;

    const std::string& query() const { return query_; }
    // Typing into the search field; a change selects the first row and closes the menu.
    void setQuery(std::string query);
    bool isSearchFocused() const { return list_.isSearchFocused(); }
    // The toolkit reports where the keyboard focus went.
    void setSearchFocused(bool focused) { list_.setSearchFocused(focused); }
    // The header's search field, bound to the query; its submit action is pasteSelected().
    SearchField& searchField() { return searchField_; }

    // The history for the current query, newest first; empty once the store is gone.
    std::vector<ClipboardItem> filteredItems() const;
    // The filtered entry at the selection, if the selection lies within the list.
    std::optional<ClipboardItem> selectedItem() const;

    // The list's rows: a date heading before the first entry and at every change of heading
    // between neighbours, then the entries.
    struct ListRow {
        enum class Kind { header, item };
        Kind kind = Kind::header;
        std::string heading;                // header rows: "Today", "Yesterday", …
        std::optional<ClipboardItem> item;  // item rows
        std::size_t index = 0;              // item rows: position in the filtered list
        // Stable identity in the list: "header-" and the heading, or the entry's id as text.
        std::string id() const;
    };
    std::vector<ListRow> rows() const;

    // The heading of an entry created at `createdAt` when it is `now`: "Today", "Yesterday",
    // "This Week", "This Month" or "Earlier", by the user's calendar in the user's time zone.
    static std::string_view dateHeading(std::chrono::system_clock::time_point createdAt,
                                        std::chrono::system_clock::time_point now);

    // Return in the search field, the pasteSelectedClipboardItem notification and row clicks:
    // pastes the selected entry and clears the query, or logs why nothing was pasted.
    void pasteSelected();
    // The view was shown in its window for the first time; later calls do nothing.
    void viewDidAppear();
    void handleAppear();
    // A single click on the entry at `index` of the filtered list: selects it, then pastes it.
    void clickRow(std::size_t index);
    // A right click on a row: opens the menu on the entry, next to the row's recorded frame.
    void rightClickRow(const ClipboardItem& item);
    void clearButtonPressed();

    // Row frames, in the list's coordinate space. The first layout of a row records its frame; a
    // later change records the new one and closes the menu when it is anchored to that row (the
    // row moved under it, for example by scrolling).
    void rowDidLayOut(const ClipboardItem& item, platform::Rect frame);
    void rowFrameChanged(const ClipboardItem& item, platform::Rect frame);

    // Where the menu's centre goes in the list's area, next to `anchorFrame`: below the row when
    // there is room, above it near the bottom, always inside the area.
    static platform::Point menuCenter(platform::Rect anchorFrame);
    // A click on the transparent layer around the open menu.
    void menuOverlayClicked();

    // The delete-all confirmation's buttons.
    void cancelDeleteAll();
    void confirmDeleteAll();

    // A loader for the picture of a row (kRowThumbnailPixels) or of the preview
    // (kPreviewThumbnailPixels), from this view's caches.
    std::unique_ptr<ClipboardAsyncThumbnail> makeThumbnail() const;

    static constexpr const char* kPlaceholder = "Search clipboard…";
    static constexpr double kSearchFontSize = 16;
    static constexpr platform::Seconds kFocusDelay = PanelList::kFocusDelay;
    static constexpr double kListWidth = 290;
    static constexpr platform::Size kListArea{290, 366};
    static constexpr double kArtworkSize = 28;
    static constexpr int kRowThumbnailPixels = 64;
    static constexpr int kPreviewThumbnailPixels = 900;

    // What the toolkit draws.
    struct Row {
        ListRow::Kind kind = ListRow::Kind::header;
        std::string id;
        // A heading's text, or the entry's shortened text.
        std::string title;
        // Entry rows.
        std::size_t index = 0;
        std::optional<ClipboardItem> item;
        bool isSelected = false;
        std::string timeLabel;
        // "text.alignleft" for a text; "photo", the placeholder, for an image.
        std::string symbol;
        // The image file of an image entry whose file exists, asked for at kRowThumbnailPixels.
        std::optional<std::filesystem::path> imageURL;
    };
    struct EmptyState {
        std::string symbol;  // "doc.on.clipboard" or "magnifyingglass"
        std::string text;    // "Copy something — it will show up here" or "No results"
    };
    struct Preview {
        enum class Kind { none, text, image };
        Kind kind = Kind::none;
        std::string text;  // the full text, in the monospaced font
        // Asked for at kPreviewThumbnailPixels; the placeholder shows without it.
        std::optional<std::filesystem::path> imageURL;
        std::string placeholderSymbol = "photo";
    };
    struct Menu {
        ClipboardActionsMenuView::Presentation content;
        platform::Point center;  // in the list's area
    };
    struct Confirmation {
        std::string title = "Delete All Entries";
        std::string message = "Are you sure you want to delete all clipboard history entries?";
        std::string cancelTitle = "Cancel";       // Escape
        std::string confirmTitle = "Delete All";  // Return; destructive
    };
    struct Presentation {
        bool searchSymbolHighlighted = false;  // the search symbol in the accent colour
        bool showsClearButton = false;
        std::vector<Row> rows;
        std::optional<EmptyState> emptyState;      // present exactly when there are no rows
        Preview preview;                           // of the selected entry
        std::string versionLabel;                  // "v0.11.0"
        std::optional<Menu> menu;                  // while the menu is open
        std::optional<Confirmation> confirmation;  // while delete-all waits for its answer
    };
    Presentation presentation() const;

    // Emitted when anything presentation() answers may have changed.
    Signal<> changed;
    // The entry with this id should be scrolled into view, just enough to show it.
    Signal<Uuid> scrollRequested;

  private:
    ClipboardStore* store() const;
    std::chrono::system_clock::time_point now() const;
    std::int64_t filteredCount() const;
    void clipboardWillShow();
    void storeItemsChanged();
    void openMenuForSelection();
    void perform(ClipboardMenuAction action);
    void recordRowFrame(const ClipboardItem& item, platform::Rect frame, bool firstLayout);
    SearchField::Description searchFieldDescription();

    std::weak_ptr<ClipboardStore*> store_;
    ClipboardActionsModel& menuModel_;
    NavigationState& navigationState_;
    PasteCallback onPaste_;
    DismissCallback onDismiss_;
    Services services_;
    SearchField searchField_;
    std::string query_;
    bool didAppear_ = false;
    PanelList list_;

    // The rows' time labels, worked out once a minute: formatting a date costs microseconds, for
    // every row on every keystroke. A label changes only with the day of "now", and a day begins
    // on a whole minute in every time zone.
    mutable std::unordered_map<Uuid, std::string> timeLabels_;
    mutable std::chrono::system_clock::time_point timeLabelsMinute_;
    const std::string& timeLabel(const ClipboardItem& item, std::chrono::system_clock::time_point now) const;

    // The menu's callbacks hold it weakly: they do nothing once the view is gone.
    WeakSelf<ClipboardView> self_{this};
    std::vector<Connection> connections_;
};

}  // namespace quenlit
