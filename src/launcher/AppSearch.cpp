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
    std::uint64_t sortPrefix;  // keys->sortPrefix, kept beside the score for the sort
    std::size_t order;         // place in the input, the last tie-breaker
};

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
// still tie keep their input order. The first bytes of the collation keys decide most names
// without reading the keys.
void sortCandidates(std::vector<Candidate>& candidates) {
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.score != b.score) return a.score > b.score;
        if (a.sortPrefix != b.sortPrefix) return a.sortPrefix < b.sortPrefix;
        if (int c = a.keys->nameSortKey.compare(b.keys->nameSortKey); c != 0) return c < 0;
        return a.order < b.order;
    });
}

void appendItems(const std::vector<Candidate>& candidates, std::vector<AppItem>& out) {
    out.reserve(out.size() + candidates.size());
    for (const auto& c : candidates)
        out.push_back(*c.item);
}

std::int64_t withBonuses(std::int64_t score, const AppItem& item) {
    if (item.isRunning) score += 5000;
    if (item.firefoxProfile() != nullptr) score += 1000;
    return score;
}

// The ranking of `apps` (less the one at `excludedPath`, Quenlit itself) followed by `folders`. An
// item whose prepared text lacks a byte of the query is passed over before anything else is read of
// it, since every scoring rule needs the whole folded query inside its name or search text.
std::vector<Candidate> rankedCandidates(const text::FoldedText& q, const std::vector<AppItem>& apps,
                                        const std::string* excludedPath, const std::vector<AppItem>* folders,
                                        Prepared& prepared) {
    std::vector<Candidate> candidates;
    if (q.empty()) return candidates;
    // Room for every item up front: the list is short-lived, and growing it copies it again and again.
    candidates.reserve(apps.size() + (folders != nullptr ? folders->size() : 0));
    const std::uint64_t needed = byteMask(q.bytes());
    auto consider = [&](const AppItem& item, const std::string* excluded) {
        const AppItemSearchKeys* keys = prepared.keysOf(item);
        if ((keys->byteMask & needed) != needed) return;
        if (excluded != nullptr && keys->resolvedPath == *excluded) return;
        const std::int64_t score = IntentionScore::score(q, keys->name, keys->searchText, keys->words);
        if (score < 1) return;
        candidates.push_back({&item, keys, withBonuses(score, item), keys->sortPrefix, candidates.size()});
    };
    for (const AppItem& item : apps)
        consider(item, excludedPath);
    if (folders != nullptr) {
        for (const AppItem& item : *folders)
            consider(item, nullptr);
    }
    sortCandidates(candidates);
    return candidates;
}

// The same ranking done the plain way: every item scored, then sorted on the whole collation keys.
// It is the reference the ranking above is checked against.
std::vector<Candidate> rankedCandidatesByScoringAll(const text::FoldedText& q,
                                                    const std::vector<const AppItem*>& items,
                                                    Prepared& prepared) {
    std::vector<Candidate> candidates;
    if (q.empty()) return candidates;
    for (const AppItem* item : items) {
        const AppItemSearchKeys* keys = prepared.keysOf(*item);
        const std::int64_t score = IntentionScore::score(q, keys->name, keys->searchText, keys->words);
        if (score < 1) continue;
        candidates.push_back({item, keys, withBonuses(score, *item), 0, 0});
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.score != b.score) return a.score > b.score;
        return a.keys->nameSortKey < b.keys->nameSortKey;
    });
    return candidates;
}

std::vector<Ranked> rankedRows(const std::vector<Candidate>& candidates) {
    std::vector<Ranked> out;
    out.reserve(candidates.size());
    for (const auto& c : candidates)
        out.push_back({c.item, c.score});
    return out;
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
        candidates.push_back({item, keys, score, keys->sortPrefix, candidates.size()});
    }
    sortCandidates(candidates);
    std::vector<AppItem> out;
    appendItems(candidates, out);
    return out;
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
    appendItems(rankedCandidates(text::FoldedText(text::trim(query)), apps, nullptr, nullptr, prepared), out);
    return out;
}

std::vector<Ranked> ranked(std::string_view query, const std::vector<AppItem>& apps) {
    Prepared prepared;
    return rankedRows(
        rankedCandidates(text::FoldedText(text::trim(query)), apps, nullptr, nullptr, prepared));
}

std::vector<Ranked> rankedByScoringAll(std::string_view query, const std::vector<AppItem>& apps) {
    Prepared prepared;
    return rankedRows(
        rankedCandidatesByScoringAll(text::FoldedText(text::trim(query)), pointers(apps), prepared));
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

namespace {

// The rows every query starts with: the calculator answer, the quit command, the window commands.
std::vector<AppItem> builtInRows(std::string_view query, const text::FoldedText& q, bool windowCommands) {
    std::vector<AppItem> out;
    if (auto answer = Calculator::evaluate(query)) out.push_back(AppItem::calculator(*answer));
    if (matchesQuitCommand(q.bytes())) out.push_back(AppItem::quitQuenlit());
    for (const auto& row : commandRows()) {
        if (windowCommands && matchesBuiltInCommand(q, row.phrases, row.aliases)) out.push_back(row.item());
    }
    return out;
}

}  // namespace

std::vector<AppItem> results(std::string_view query, const std::vector<AppItem>& apps,
                             const std::vector<AppItem>* folders,
                             const std::optional<std::string>& frontmostPath,
                             const std::optional<std::string>& selfPath, bool windowCommands) {
    Prepared prepared;
    const text::FoldedText q(text::trim(query));
    if (q.empty())
        return suggestionsFrom(withoutSelf(apps, selfPath, prepared), frontmostPath, selfPath, prepared);

    std::vector<AppItem> out = builtInRows(query, q, windowCommands);
    const std::optional<std::string> self =
        selfPath ? std::optional(resolveSymlinks(*selfPath)) : std::nullopt;
    appendItems(rankedCandidates(q, apps, self ? &*self : nullptr, folders ? folders : &builtInFolderItems(),
                                 prepared),
                out);
    return out;
}

std::vector<AppItem> resultsByScoringAll(std::string_view query, const std::vector<AppItem>& apps,
                                         const std::vector<AppItem>* folders,
                                         const std::optional<std::string>& frontmostPath,
                                         const std::optional<std::string>& selfPath, bool windowCommands) {
    Prepared prepared;
    std::vector<const AppItem*> candidates = withoutSelf(apps, selfPath, prepared);
    const text::FoldedText q(text::trim(query));
    if (q.empty()) return suggestionsFrom(candidates, frontmostPath, selfPath, prepared);

    std::vector<AppItem> out = builtInRows(query, q, windowCommands);
    for (const AppItem& folder : folders ? *folders : builtInFolderItems())
        candidates.push_back(&folder);
    appendItems(rankedCandidatesByScoringAll(q, candidates, prepared), out);
    return out;
}

}  // namespace quenlit::AppSearch
