#pragma once

// The value record of every launcher row: installed applications, Firefox profile entries, the
// folder shortcut, the zoxide match, the calculator answer, the quit command and the twelve
// window commands.

#include "base/Text.h"
#include "base/Uuid.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace quenlit {

namespace Calculator {
struct Result;
}
struct FolderShortcut;

// An icon is a reference that the interface resolves lazily: a system symbol name (mapped onto
// the icon theme by the UI), an icon-theme name, or a file whose icon is shown (an image, or a
// folder's own icon).
struct IconRef {
    enum class Source : std::uint8_t { symbol, theme, file };
    Source source = Source::theme;
    std::string name;
    std::string description;  // accessibility description, for symbols

    static IconRef symbol(std::string name, std::string description) {
        return {Source::symbol, std::move(name), std::move(description)};
    }
    static IconRef theme(std::string name) { return {Source::theme, std::move(name), {}}; }
    static IconRef file(std::string path) { return {Source::file, std::move(path), {}}; }
    bool operator==(const IconRef&) const = default;
};

class AppItemKind {
  public:
    // Declaration order matters: it is the order of the cases everywhere they are listed.
    enum Case : std::uint8_t {
        calculator,
        app,
        quit,
        folder,
        leftHalf,
        rightHalf,
        topHalf,
        bottomHalf,
        firstThird,
        lastTwoThirds,
        moveToTop,
        moveToBottom,
        moveToLeft,
        moveToRight,
        maximize,
        reasonableSize,
    };

    AppItemKind(Case c = app) : case_(c) {}  // NOLINT(google-explicit-constructor): a case is a kind
    static AppItemKind makeCalculator(std::string copyText) {
        AppItemKind k(calculator);
        k.copyText_ = std::move(copyText);
        return k;
    }

    Case value() const { return case_; }
    // The payload of the calculator case; empty for every other case.
    const std::string& copyText() const { return copyText_; }
    bool isWindowCommand() const { return case_ >= leftHalf; }
    // The case's name as written in logs and output ("calculator", "leftHalf", ...).
    std::string_view caseName() const;

    bool operator==(const AppItemKind&) const = default;
    bool operator==(Case c) const { return case_ == c; }

  private:
    Case case_;
    std::string copyText_;
};

// A 64-bit summary of which byte values occur in a text: one bit per letter a-z and digit, the
// other byte values share the remaining bits. A text that contains another as a substring has every
// bit of the other's set, so a missing bit proves that no match is possible.
std::uint64_t byteMask(std::string_view bytes);

// What the ranking needs of an item, computed once when the item is made: folded name and search
// text with their words, the collation key of the name, and the path with symbolic links resolved.
struct AppItemSearchKeys {
    text::FoldedText name;
    text::FoldedText searchText;
    std::vector<text::FoldedText::Word> words;
    std::string nameSortKey;
    std::string resolvedPath;
    // byteMask of the folded name and search text together: a query with a bit outside it cannot
    // score, since every rule needs the folded query inside one of them.
    std::uint64_t byteMask = 0;
    // The first eight bytes of nameSortKey, big-endian, zero-padded: when two of them differ they
    // order the names as the whole keys do.
    std::uint64_t sortPrefix = 0;
};

// What a row carries besides its name, under the name of what it is. A new kind of row adds its
// own alternative here and is read where it is used.
struct FirefoxProfileDetail {
    std::string profile;  // the profile's name: the row starts Firefox with it
    bool operator==(const FirefoxProfileDetail&) const = default;
};
struct ZoxideDetail {
    std::string abbreviatedPath;  // "~/src/proj"; empty for the home folder itself
    bool operator==(const ZoxideDetail&) const = default;
};
struct CalculatorDetail {
    std::string expression;  // "1234 × 2", shown under the answer
    bool operator==(const CalculatorDetail&) const = default;
};
using AppItemDetail = std::variant<std::monostate, FirefoxProfileDetail, ZoxideDetail, CalculatorDetail>;

struct AppItem {
    using Kind = AppItemKind;

    Uuid id;
    std::string name;
    std::string path;
    std::optional<IconRef> icon;
    bool isRunning = false;
    AppItemDetail detail;
    std::vector<std::string> aliases;
    Kind kind;

    // The Firefox profile a profile row starts; null for every other row.
    const std::string* firefoxProfile() const {
        const auto* d = std::get_if<FirefoxProfileDetail>(&detail);
        return d != nullptr ? &d->profile : nullptr;
    }
    bool isZoxide() const { return std::holds_alternative<ZoxideDetail>(detail); }
    // The line under the name: the profile, the abbreviated path or the calculation; searched too.
    std::optional<std::string> secondaryText() const;

    // Every factory prepares the search keys. Code that changes name, detail, aliases or path
    // afterwards calls prepare() again; an item without keys is prepared on the fly when ranked.
    // `resolvedPath`, when the caller already resolved the path's symbolic links, saves doing it again.
    static AppItem make(Uuid id, std::string name, std::string path, std::optional<IconRef> icon,
                        bool isRunning, AppItemDetail detail, std::vector<std::string> aliases, Kind kind,
                        std::optional<std::string> resolvedPath = std::nullopt);
    void prepare(std::optional<std::string> resolvedPath = std::nullopt);
    const AppItemSearchKeys* searchKeys() const { return keys_.get(); }

    // "quenlit.calc:" + expression + "=" + copy text identifies a calculator answer, so the same
    // answer keeps its row while the formatted value is re-rendered.
    static AppItem calculator(const Calculator::Result& result);
    static AppItem folderItem(const FolderShortcut& shortcut);
    // The row of a zoxide match, an absolute directory path; `home` defaults to the user's home.
    // Defined with the zoxide functions (Zoxide.cpp).
    static AppItem zoxide(const std::string& path);
    static AppItem zoxide(const std::string& path, const std::string& home);

    static const AppItem& quitQuenlit();
    static const AppItem& leftHalf();
    static const AppItem& rightHalf();
    static const AppItem& maximize();
    static const AppItem& reasonableSize();
    static const AppItem& topHalf();
    static const AppItem& bottomHalf();
    static const AppItem& firstThird();
    static const AppItem& lastTwoThirds();
    static const AppItem& moveToTop();
    static const AppItem& moveToBottom();
    static const AppItem& moveToLeft();
    static const AppItem& moveToRight();
    // The thirteen command items, quit first, then the window commands in the order above.
    static const std::vector<AppItem>& commandItems();

    // Equality covers the eight fields; the prepared keys are derived from them.
    bool operator==(const AppItem& other) const {
        return id == other.id && name == other.name && path == other.path && icon == other.icon &&
               isRunning == other.isRunning && detail == other.detail && aliases == other.aliases &&
               kind == other.kind;
    }

  private:
    std::shared_ptr<const AppItemSearchKeys> keys_;
};

// Resolves symbolic links of an absolute path as far as the path exists; other text is returned as is.
std::string resolveSymlinks(std::string_view path);

// resolveSymlinks for the many files of a few folders, as a catalogue scan meets them: each folder
// is resolved once, and then a file that is no link itself costs one look at the file alone.
class SymlinkResolver {
  public:
    std::string resolve(std::string_view path);

  private:
    std::unordered_map<std::string, std::string> folders_;
};

}  // namespace quenlit
