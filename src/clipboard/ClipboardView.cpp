#include "clipboard/ClipboardView.h"

#include "base/Log.h"
#include "panel/Version.h"

#include <unicode/calendar.h>
#include <unicode/ucal.h>

#include <algorithm>
#include <utility>

namespace quenlit {
namespace {

// The query as a quoted literal with its escapes, so a log line shows exactly what was typed
// (blanks, line breaks, control characters) and where it ends.
std::string debugForm(std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u{";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 0xF]);
                    out += "}";
                } else {
                    out.push_back(ch);
                }
        }
    }
    out += "\"";
    return out;
}

UDate toUDate(std::chrono::system_clock::time_point t) {
    return static_cast<UDate>(
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

// Calendar arithmetic in the user's calendar, locale (first day of the week) and time zone.
class DateBuckets {
  public:
    explicit DateBuckets(std::chrono::system_clock::time_point now) : now_(toUDate(now)) {
        UErrorCode status = U_ZERO_ERROR;
        calendar_.reset(icu::Calendar::createInstance(status));
        if (U_FAILURE(status)) calendar_.reset();
        if (!calendar_) return;
        today_ = day(now_, 0);
        yesterday_ = day(now_, -1);
        week_ = weekStart(now_);
        month_ = month(now_);
    }

    std::string_view heading(std::chrono::system_clock::time_point createdAt) {
        // Without calendar data nothing can be placed in a period.
        if (!calendar_) return "Earlier";
        const UDate created = toUDate(createdAt);
        const Day d = day(created, 0);
        if (d.valid && d == today_) return "Today";
        if (d.valid && d == yesterday_) return "Yesterday";
        const Day start = weekStart(created);
        if (start.valid && start == week_) return "This Week";
        const Month m = month(created);
        if (m.valid && m == month_) return "This Month";
        return "Earlier";
    }

  private:
    struct Day {
        int32_t era = 0;
        int32_t year = 0;
        int32_t dayOfYear = 0;
        bool valid = false;
        bool operator==(const Day&) const = default;
    };
    struct Month {
        int32_t era = 0;
        int32_t year = 0;
        int32_t month = 0;
        int32_t isLeapMonth = 0;  // lunisolar calendars repeat a month number
        bool valid = false;
        bool operator==(const Month&) const = default;
    };

    Day read() {
        UErrorCode status = U_ZERO_ERROR;
        Day d{calendar_->get(UCAL_ERA, status), calendar_->get(UCAL_EXTENDED_YEAR, status),
              calendar_->get(UCAL_DAY_OF_YEAR, status), false};
        d.valid = U_SUCCESS(status);
        return d;
    }
    // The calendar day of `t` moved by `offset` days.
    Day day(UDate t, int32_t offset) {
        UErrorCode status = U_ZERO_ERROR;
        calendar_->setTime(t, status);
        if (offset != 0) calendar_->add(UCAL_DATE, offset, status);
        if (U_FAILURE(status)) return {};
        return read();
    }
    // The first day of the week that holds `t`: weeks are compared as periods, so a week that
    // spans the turn of the year is still one week.
    Day weekStart(UDate t) {
        UErrorCode status = U_ZERO_ERROR;
        calendar_->setTime(t, status);
        const int32_t weekday = calendar_->get(UCAL_DAY_OF_WEEK, status);
        const int32_t first = calendar_->getFirstDayOfWeek(status);
        if (U_FAILURE(status)) return {};
        calendar_->add(UCAL_DATE, -((weekday - first + 7) % 7), status);
        if (U_FAILURE(status)) return {};
        return read();
    }
    Month month(UDate t) {
        UErrorCode status = U_ZERO_ERROR;
        calendar_->setTime(t, status);
        Month m{calendar_->get(UCAL_ERA, status), calendar_->get(UCAL_EXTENDED_YEAR, status),
                calendar_->get(UCAL_MONTH, status), calendar_->get(UCAL_IS_LEAP_MONTH, status), false};
        m.valid = U_SUCCESS(status);
        return m;
    }

    UDate now_;
    std::unique_ptr<icu::Calendar> calendar_;
    Day today_;
    Day yesterday_;
    Day week_;
    Month month_;
};

}  // namespace

// ---- ClipboardAsyncThumbnail

ClipboardAsyncThumbnail::ClipboardAsyncThumbnail(Services services) : services_(services) {}

ClipboardAsyncThumbnail::~ClipboardAsyncThumbnail() {
    task_.cancel();
    self_.reset();
}

std::string ClipboardAsyncThumbnail::key(const std::optional<std::filesystem::path>& url, double maxPixel) {
    return (url ? url->string() : std::string()) + "#" + std::to_string(static_cast<long long>(maxPixel));
}

void ClipboardAsyncThumbnail::request(const std::optional<std::filesystem::path>& url, double maxPixel) {
    std::string newKey = key(url, maxPixel);
    if (key_ == newKey) return;
    key_ = std::move(newKey);
    task_.cancel();
    task_ = {};
    const bool hadImage = image_.has_value();
    image_.reset();
    const int pixels = static_cast<int>(maxPixel);
    if (!url) {
        if (hadImage) changed.emit();
        return;
    }
    const std::string path = url->string();
    if (auto cached = services_.thumbnails.cacheFor(pixels).get(ClipboardThumbnailCache::key(path, pixels))) {
        image_ = std::move(cached);
        changed.emit();
        return;
    }
    if (hadImage) changed.emit();
    task_ = ClipboardImageThumbnail::loadAsync(
        path, pixels, self_.bind([](ClipboardAsyncThumbnail& self, std::optional<platform::Bitmap> bitmap) {
            self.image_ = std::move(bitmap);
            self.changed.emit();
        }),
        services_.scheduler, services_.imageCodec, platform::TaskHandle{}, services_.thumbnails);
}

// ---- ClipboardView

std::string ClipboardView::ListRow::id() const {
    if (kind == Kind::header) return "header-" + heading;
    return item ? item->id.toString() : std::string();
}

ClipboardView::ClipboardView(ClipboardStore& store, ClipboardActionsModel& menuModel,
                             NavigationState& navigationState, PasteCallback onPaste,
                             DismissCallback onDismiss, Services services)
    : store_(store.liveness()),
      menuModel_(menuModel),
      navigationState_(navigationState),
      onPaste_(std::move(onPaste)),
      onDismiss_(std::move(onDismiss)),
      services_(std::move(services)),
      searchField_(services_.notifications, searchFieldDescription()),
      list_(navigationState, services_.scheduler,
            {[this](std::int64_t index) -> std::optional<Uuid> {
                 const std::vector<ClipboardItem> items = filteredItems();
                 if (index < 0 || index >= static_cast<std::int64_t>(items.size())) return std::nullopt;
                 return items[static_cast<std::size_t>(index)].id;
             },
             [this](Uuid id) { scrollRequested.emit(id); }, [this] { changed.emit(); }}) {
    if (!services_.now) services_.now = [] { return std::chrono::system_clock::now(); };
    if (services_.thumbnails == nullptr) services_.thumbnails = &ClipboardImageThumbnail::cache();
    connections_.push_back(
        services_.notifications.observe(Notification::clipboardWillShow, [this] { clipboardWillShow(); }));
    connections_.push_back(services_.notifications.observe(Notification::pasteSelectedClipboardItem,
                                                           [this] { pasteSelected(); }));
    connections_.push_back(store.itemsChanged.connect([this] { storeItemsChanged(); }));
    connections_.push_back(menuModel_.changed.connect([this] { changed.emit(); }));
}

ClipboardView::~ClipboardView() {
    connections_.clear();
    self_.reset();
}

SearchField::Description ClipboardView::searchFieldDescription() {
    return {{[this] { return query_; }, [this](const std::string& text) { setQuery(text); }},
            kPlaceholder,
            kSearchFontSize,
            [this] { pasteSelected(); }};
}

ClipboardStore* ClipboardView::store() const {
    auto live = store_.lock();
    return live ? *live : nullptr;
}

std::chrono::system_clock::time_point ClipboardView::now() const {
    return services_.now();
}

std::vector<ClipboardItem> ClipboardView::filteredItems() const {
    ClipboardStore* s = store();
    return s ? s->items(query_) : std::vector<ClipboardItem>{};
}

std::int64_t ClipboardView::filteredCount() const {
    return static_cast<std::int64_t>(filteredItems().size());
}

std::optional<ClipboardItem> ClipboardView::selectedItem() const {
    std::vector<ClipboardItem> items = filteredItems();
    const std::int64_t index = navigationState_.selectedIndex();
    if (index < 0 || index >= static_cast<std::int64_t>(items.size())) return std::nullopt;
    return std::move(items[static_cast<std::size_t>(index)]);
}

std::string_view ClipboardView::dateHeading(std::chrono::system_clock::time_point createdAt,
                                            std::chrono::system_clock::time_point now) {
    return DateBuckets(now).heading(createdAt);
}

std::vector<ClipboardView::ListRow> ClipboardView::rows() const {
    const std::vector<ClipboardItem> items = filteredItems();
    std::vector<ListRow> out;
    if (items.empty()) return out;
    DateBuckets buckets(now());
    std::optional<std::string_view> current;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string_view heading = buckets.heading(items[i].createdAt);
        if (!current || *current != heading) {
            ListRow header;
            header.kind = ListRow::Kind::header;
            header.heading = std::string(heading);
            out.push_back(std::move(header));
            current = heading;
        }
        ListRow row;
        row.kind = ListRow::Kind::item;
        row.item = items[i];
        row.index = i;
        out.push_back(std::move(row));
    }
    return out;
}

void ClipboardView::setQuery(std::string query) {
    if (query == query_) return;
    query_ = std::move(query);
    list_.reset(filteredCount());
    if (menuModel_.isOpen()) menuModel_.close();
    changed.emit();
}

void ClipboardView::pasteSelected() {
    const std::vector<ClipboardItem> items = filteredItems();
    const auto count = static_cast<std::int64_t>(items.size());
    if (count == 0) {
        ClipboardStore* s = store();
        const std::size_t history = s ? s->items().size() : 0;
        log::write("clipboard: pasteSelected skipped — empty filter (query=" + debugForm(query_) +
                   " history=" + std::to_string(history) + ")");
        return;
    }
    const std::int64_t selected = navigationState_.selectedIndex();
    if (selected >= 0 && selected < count) {
        const ClipboardItem& entry = items[static_cast<std::size_t>(selected)];
        setQuery("");
        if (onPaste_) onPaste_(entry);
        return;
    }
    log::write("clipboard: pasteSelected skipped — index " + std::to_string(selected) + " out of " +
               std::to_string(count));
}

void ClipboardView::viewDidAppear() {
    if (didAppear_) return;
    didAppear_ = true;
    log::write("debug: ClipboardView onAppear sel=" + std::to_string(navigationState_.selectedIndex()) +
               " items=" + std::to_string(filteredCount()));
    handleAppear();
}

void ClipboardView::handleAppear() {
    list_.reset(filteredCount());
    list_.focusSearchLater();
    // The model lives in the panel and may outlive this view: the callbacks hold it weakly.
    menuModel_.onToggle = self_.bind([](ClipboardView& self) { self.openMenuForSelection(); });
    menuModel_.onPerform =
        self_.bind([](ClipboardView& self, ClipboardMenuAction action) { self.perform(action); });
}

void ClipboardView::clipboardWillShow() {
    // Assigned directly: the steps below are those a change of the query would take.
    const bool queryChanged = !query_.empty();
    query_.clear();
    menuModel_.close();
    list_.reset(filteredCount());
    list_.focusSearchLater();
    if (queryChanged) changed.emit();
}

void ClipboardView::storeItemsChanged() {
    // Only clamps: the user's selection survives a capture or a deletion elsewhere in the list.
    list_.clampTo(filteredCount());
    changed.emit();
}

void ClipboardView::clickRow(std::size_t index) {
    list_.select(index);
    pasteSelected();
}

void ClipboardView::rightClickRow(const ClipboardItem& item) {
    const auto& frames = menuModel_.rowFrames();
    const auto it = frames.find(item.id);
    menuModel_.open(item, it != frames.end() ? it->second : platform::Rect{});
}

void ClipboardView::clearButtonPressed() {
    setQuery("");
}

void ClipboardView::openMenuForSelection() {
    const std::vector<ClipboardItem> items = filteredItems();
    const std::int64_t selected = navigationState_.selectedIndex();
    if (items.empty() || selected < 0 || selected >= static_cast<std::int64_t>(items.size())) return;
    rightClickRow(items[static_cast<std::size_t>(selected)]);
}

void ClipboardView::perform(ClipboardMenuAction action) {
    if (!menuModel_.anchoredItem()) return;
    const ClipboardItem item = *menuModel_.anchoredItem();
    ClipboardStore* s = store();
    switch (action.value()) {
        case ClipboardMenuAction::paste:
            menuModel_.close();
            if (onPaste_) onPaste_(item);
            return;
        case ClipboardMenuAction::copy:
            menuModel_.close();
            if (s) s->copyToPasteboard(item);
            return;
        case ClipboardMenuAction::deleteEntry:
            menuModel_.close();
            if (s) s->remove(item);
            return;
        case ClipboardMenuAction::deleteAll:
            if (!menuModel_.confirmDeleteAll()) {
                menuModel_.setConfirmDeleteAll(true);
                return;
            }
            if (s) s->removeAll();
            menuModel_.close();
            return;
    }
}

void ClipboardView::recordRowFrame(const ClipboardItem& item, platform::Rect frame, bool firstLayout) {
    auto& frames = menuModel_.rowFrames();
    const auto it = frames.find(item.id);
    const bool moved = it != frames.end() && it->second != frame;
    frames[item.id] = frame;
    if (firstLayout || !moved) return;
    const auto& anchored = menuModel_.anchoredItem();
    if (menuModel_.isOpen() && anchored && anchored->id == item.id) menuModel_.close();
}

void ClipboardView::rowDidLayOut(const ClipboardItem& item, platform::Rect frame) {
    recordRowFrame(item, frame, true);
}

void ClipboardView::rowFrameChanged(const ClipboardItem& item, platform::Rect frame) {
    recordRowFrame(item, frame, false);
}

platform::Point ClipboardView::menuCenter(platform::Rect anchor) {
    const double x = std::min(std::max(anchor.midX(), 138.0), 152.0);
    const double below = anchor.maxY() + 90;
    const double above = anchor.minY() - 90;
    const bool roomBelow = anchor.minY() - 174 < 0 || anchor.maxY() + 174 <= kListArea.height;
    const double y = std::min(std::max(roomBelow ? below : above, 92.0), 274.0);
    return {x, y};
}

void ClipboardView::menuOverlayClicked() {
    menuModel_.close();
}

void ClipboardView::cancelDeleteAll() {
    menuModel_.close();
}

void ClipboardView::confirmDeleteAll() {
    if (ClipboardStore* s = store()) s->removeAll();
    navigationState_.setMaxIndex(0);
    if (navigationState_.selectedIndex() > 0) navigationState_.setSelectedIndex(0);
    menuModel_.close();
}

std::unique_ptr<ClipboardAsyncThumbnail> ClipboardView::makeThumbnail() const {
    return std::make_unique<ClipboardAsyncThumbnail>(
        ClipboardAsyncThumbnail::Services{services_.scheduler, services_.imageCodec, *services_.thumbnails});
}

const std::string& ClipboardView::timeLabel(const ClipboardItem& item,
                                            std::chrono::system_clock::time_point now) const {
    const auto minute = std::chrono::floor<std::chrono::minutes>(now);
    if (minute != timeLabelsMinute_ || timeLabels_.size() > 4096) {
        timeLabels_.clear();
        timeLabelsMinute_ = minute;
    }
    auto it = timeLabels_.find(item.id);
    if (it == timeLabels_.end()) it = timeLabels_.emplace(item.id, item.timeLabel(now)).first;
    return it->second;
}

ClipboardView::Presentation ClipboardView::presentation() const {
    Presentation p;
    p.searchSymbolHighlighted = list_.isSearchFocused();
    p.showsClearButton = !query_.empty();
    p.versionLabel = "v" + AppVersion::string();
    if (menuModel_.isOpen()) {
        p.menu =
            Menu{ClipboardActionsMenuView::presentation(menuModel_), menuCenter(menuModel_.anchorFrame())};
    }
    if (menuModel_.confirmDeleteAll()) p.confirmation = Confirmation{};

    ClipboardStore* s = store();
    const std::vector<ListRow> list = rows();
    if (list.empty()) {
        const bool historyEmpty = s == nullptr || s->items().empty();
        p.emptyState = historyEmpty ? EmptyState{"doc.on.clipboard", "Copy something — it will show up here"}
                                    : EmptyState{"magnifyingglass", "No results"};
        return p;
    }
    const std::int64_t selected = navigationState_.selectedIndex();
    const auto timeNow = now();
    p.rows.reserve(list.size());
    for (const ListRow& entry : list) {
        Row row;
        row.kind = entry.kind;
        row.id = entry.id();
        if (entry.kind == ListRow::Kind::header) {
            row.title = entry.heading;
            p.rows.push_back(std::move(row));
            continue;
        }
        const ClipboardItem& item = *entry.item;
        row.title = shortenedEntryText(item);
        row.index = entry.index;
        row.isSelected = static_cast<std::int64_t>(entry.index) == selected;
        row.timeLabel = timeLabel(item, timeNow);
        if (item.kind == ClipboardItem::Kind::image) {
            row.symbol = "photo";
            if (s) row.imageURL = s->imageURL(item);
        } else {
            row.symbol = "text.alignleft";
        }
        if (row.isSelected) {
            if (item.kind == ClipboardItem::Kind::image) {
                p.preview.kind = Preview::Kind::image;
                p.preview.imageURL = row.imageURL;
            } else {
                p.preview.kind = Preview::Kind::text;
                p.preview.text = item.text();
            }
        }
        row.item = item;
        p.rows.push_back(std::move(row));
    }
    return p;
}

}  // namespace quenlit
