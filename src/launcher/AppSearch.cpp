#include "launcher/AppSearch.h"

#include "calculator/Calculator.h"
#include "launcher/FolderShortcut.h"
#include "launcher/IntentionScore.h"

#include <algorithm>
#include <array>
#include <deque>

namespace quenlit::AppSearch {
namespace {

struct Candidate {
    const AppItem* item;
    const AppItemSearchKeys* keys;
    std::int64_t score;
};

// Items normally arrive prepared; one that does not is prepared here, in storage that outlives
// the candidates pointing into it.
class Prepared {
  public:
    const AppItemSearchKeys* keysOf(const AppItem& item) {
        if (const auto* keys = item.searchKeys()) return keys;
        AppItem& copy = scratch_.emplace_back(item);
        copy.prepare();
        return copy.searchKeys();
    }

  private:
    std::deque<AppItem> scratch_;
};

struct CommandRow {
    const AppItem& (*item)();
    std::vector<text::FoldedText> phrases;
    std::vector<text::FoldedText> aliases;
};

std::vector<text::FoldedText> folded(std::initializer_list<std::string_view> words) {
    std::vector<text::FoldedText> out;
    for (auto w : words)
        out.emplace_back(w);
    return out;
}

const std::vector<CommandRow>& commandRows() {
    static const std::vector<CommandRow> rows{
        {&AppItem::leftHalf, folded({"left", "left half"}), folded({"lh"})},
        {&AppItem::rightHalf, folded({"right", "right half"}), folded({"rh"})},
        {&AppItem::maximize, folded({"max", "maximize"}), folded({"max"})},
        {&AppItem::reasonableSize, folded({"reasonable", "reasonable size"}), folded({"rs"})},
        {&AppItem::topHalf, folded({"top", "top half"}), folded({"th"})},
        {&AppItem::bottomHalf, folded({"bottom", "bottom half"}), folded({"bh"})},
        {&AppItem::firstThird, folded({"first", "first third", "third"}), folded({"ft"})},
        {&AppItem::lastTwoThirds, folded({"last two thirds", "last two", "two thirds"}), folded({"ltt"})},
        {&AppItem::moveToTop, folded({"move to top", "move top"}), folded({"mtt"})},
        {&AppItem::moveToBottom, folded({"move to bottom", "move bottom"}), folded({"mtb"})},
        {&AppItem::moveToLeft, folded({"move to left", "move left"}), folded({"mtl"})},
        {&AppItem::moveToRight, folded({"move to right", "move right"}), folded({"mtr"})},
    };
    return rows;
}

bool matchesBuiltInCommand(const text::FoldedText& t, const std::vector<text::FoldedText>& phrases,
                           const std::vector<text::FoldedText>& aliases) {
    if (t.empty()) return false;
    if (std::find(aliases.begin(), aliases.end(), t) != aliases.end()) return true;
    return std::any_of(phrases.begin(), phrases.end(),
                       [&](const text::FoldedText& phrase) { return text::startsWith(phrase, t); });
}

// Higher score first; equal scores by name, ignoring case, in the user's collation; items that
// still tie keep their input order.
std::vector<AppItem> sortedItems(std::vector<Candidate>& candidates) {
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.score != b.score) return a.score > b.score;
        return a.keys->nameSortKey < b.keys->nameSortKey;
    });
    std::vector<AppItem> out;
    out.reserve(candidates.size());
    for (const auto& c : candidates)
        out.push_back(*c.item);
    return out;
}

void appendRanked(const text::FoldedText& q, const std::vector<const AppItem*>& items, Prepared& prepared,
                  std::vector<AppItem>& out) {
    if (q.empty()) return;
    std::vector<Candidate> candidates;
    for (const AppItem* item : items) {
        const AppItemSearchKeys* keys = prepared.keysOf(*item);
        std::int64_t score = IntentionScore::score(q, keys->name, keys->searchText, keys->words);
        if (score < 1) continue;
        if (item->isRunning) score += 5000;
        if (item->firefoxProfile() != nullptr) score += 1000;
        candidates.push_back({item, keys, score});
    }
    auto ranked = sortedItems(candidates);
    out.insert(out.end(), std::make_move_iterator(ranked.begin()), std::make_move_iterator(ranked.end()));
}

std::vector<const AppItem*> withoutSelf(const std::vector<AppItem>& apps,
                                        const std::optional<std::string>& selfPath, Prepared& prepared) {
    std::vector<const AppItem*> out;
    out.reserve(apps.size());
    const std::optional<std::string> self =
        selfPath ? std::optional(resolveSymlinks(*selfPath)) : std::nullopt;
    for (const AppItem& item : apps) {
        if (self && prepared.keysOf(item)->resolvedPath == *self) continue;
        out.push_back(&item);
    }
    return out;
}

std::vector<AppItem> suggestionsFrom(const std::vector<const AppItem*>& apps,
                                     const std::optional<std::string>& frontmostPath,
                                     const std::optional<std::string>& selfPath, Prepared& prepared) {
    const std::optional<std::string> self =
        selfPath ? std::optional(resolveSymlinks(*selfPath)) : std::nullopt;
    const std::optional<std::string> front =
        frontmostPath ? std::optional(resolveSymlinks(*frontmostPath)) : std::nullopt;
    std::vector<Candidate> candidates;
    for (const AppItem* item : apps) {
        if (item->kind != AppItem::Kind::app || !item->isRunning) continue;
        const AppItemSearchKeys* keys = prepared.keysOf(*item);
        if (self && keys->resolvedPath == *self) continue;
        // A profile entry stays even when Firefox itself is in front: it may be another window.
        if (front && item->firefoxProfile() == nullptr && keys->resolvedPath == *front) continue;
        std::int64_t score =
            50000 - static_cast<std::int64_t>(std::min<std::size_t>(keys->name.length(), 10000));
        if (item->firefoxProfile() != nullptr) score += 1000;
        candidates.push_back({item, keys, score});
    }
    return sortedItems(candidates);
}

std::vector<const AppItem*> pointers(const std::vector<AppItem>& items) {
    std::vector<const AppItem*> out;
    out.reserve(items.size());
    for (const auto& item : items)
        out.push_back(&item);
    return out;
}

}  // namespace

const std::vector<AppItem>& builtInFolderItems() {
    static const std::vector<AppItem> items = [] {
        std::vector<AppItem> out;
        for (const auto& shortcut : FolderShortcut::builtIns())
            out.push_back(AppItem::folderItem(shortcut));
        return out;
    }();
    return items;
}

bool matchesQuitCommand(std::string_view query) {
    static const text::FoldedText quit("quit");
    static const text::FoldedText quitQuenlit("quit quenlit");
    const text::FoldedText t(text::trim(query));
    if (t.empty()) return false;
    return text::startsWith(quit, t) || text::startsWith(quitQuenlit, t);
}

bool matchesWindowCommand(std::string_view query) {
    const text::FoldedText q(text::trim(query));
    return std::any_of(commandRows().begin(), commandRows().end(), [&](const CommandRow& row) {
        return matchesBuiltInCommand(q, row.phrases, row.aliases);
    });
}

std::vector<AppItem> rank(std::string_view query, const std::vector<AppItem>& apps) {
    Prepared prepared;
    std::vector<AppItem> out;
    appendRanked(text::FoldedText(text::trim(query)), pointers(apps), prepared, out);
    return out;
}

std::vector<AppItem> switchSuggestions(const std::vector<AppItem>& apps,
                                       const std::optional<std::string>& frontmostPath,
                                       const std::optional<std::string>& selfPath) {
    Prepared prepared;
    return suggestionsFrom(pointers(apps), frontmostPath, selfPath, prepared);
}

std::vector<AppItem> excludingSelf(const std::vector<AppItem>& apps,
                                   const std::optional<std::string>& selfPath) {
    Prepared prepared;
    std::vector<AppItem> out;
    for (const AppItem* item : withoutSelf(apps, selfPath, prepared))
        out.push_back(*item);
    return out;
}

std::vector<AppItem> results(std::string_view query, const std::vector<AppItem>& apps,
                             const std::vector<AppItem>* folders,
                             const std::optional<std::string>& frontmostPath,
                             const std::optional<std::string>& selfPath, bool windowCommands) {
    Prepared prepared;
    std::vector<const AppItem*> candidates = withoutSelf(apps, selfPath, prepared);
    const text::FoldedText q(text::trim(query));
    if (q.empty()) return suggestionsFrom(candidates, frontmostPath, selfPath, prepared);

    std::vector<AppItem> out;
    if (auto answer = Calculator::evaluate(query)) out.push_back(AppItem::calculator(*answer));
    if (matchesQuitCommand(q.bytes())) out.push_back(AppItem::quitQuenlit());
    for (const auto& row : commandRows()) {
        if (windowCommands && matchesBuiltInCommand(q, row.phrases, row.aliases)) out.push_back(row.item());
    }
    for (const AppItem& folder : folders ? *folders : builtInFolderItems())
        candidates.push_back(&folder);
    appendRanked(q, candidates, prepared, out);
    return out;
}

}  // namespace quenlit::AppSearch
