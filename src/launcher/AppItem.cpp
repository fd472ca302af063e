#include "launcher/AppItem.h"

#include "calculator/Calculator.h"
#include "launcher/FolderShortcut.h"

#include <array>
#include <filesystem>
#include <system_error>

namespace quenlit {
namespace {

constexpr std::array<std::string_view, 16> kCaseNames = {
    "calculator", "app",         "quit",       "folder",         "leftHalf",  "rightHalf",
    "topHalf",    "bottomHalf",  "firstThird", "lastTwoThirds",  "moveToTop", "moveToBottom",
    "moveToLeft", "moveToRight", "maximize",   "reasonableSize",
};

AppItem command(const char* name, const char* symbol, const char* id, std::vector<std::string> aliases,
                AppItem::Kind kind) {
    return AppItem::make(*Uuid::parse(id), name, "Command", IconRef::symbol(symbol, name), false, {},
                         std::move(aliases), std::move(kind));
}

}  // namespace

std::string_view AppItemKind::caseName() const {
    return kCaseNames[case_];
}

std::string resolveSymlinks(std::string_view path) {
    std::filesystem::path p(path);
    if (!p.is_absolute()) return std::string(path);
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(p, ec);
    if (ec) return std::string(path);
    std::string out = resolved.string();
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

std::string SymlinkResolver::resolve(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (path.empty() || path.front() != '/' || slash == 0) return resolveSymlinks(path);
    const std::string_view name = path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return resolveSymlinks(path);
    const std::string folder(path.substr(0, slash));
    auto it = folders_.find(folder);
    if (it == folders_.end()) it = folders_.emplace(folder, resolveSymlinks(folder)).first;
    std::string resolved = it->second;
    if (resolved != "/") resolved += '/';
    resolved += name;
    // Only a file that exists and is no link itself is known to resolve to its resolved folder's entry.
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(resolved, ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_symlink(status)) {
        return resolveSymlinks(path);
    }
    return resolved;
}

AppItem AppItem::make(Uuid id, std::string name, std::string path, std::optional<IconRef> icon,
                      bool isRunning, AppItemDetail detail, std::vector<std::string> aliases, Kind kind,
                      std::optional<std::string> resolvedPath) {
    AppItem item;
    item.id = id;
    item.name = std::move(name);
    item.path = std::move(path);
    item.icon = std::move(icon);
    item.isRunning = isRunning;
    item.detail = std::move(detail);
    item.aliases = std::move(aliases);
    item.kind = std::move(kind);
    item.prepare(std::move(resolvedPath));
    return item;
}

std::optional<std::string> AppItem::secondaryText() const {
    if (const auto* d = std::get_if<FirefoxProfileDetail>(&detail)) return d->profile;
    if (const auto* d = std::get_if<ZoxideDetail>(&detail); d != nullptr && !d->abbreviatedPath.empty())
        return d->abbreviatedPath;
    if (const auto* d = std::get_if<CalculatorDetail>(&detail)) return d->expression;
    return std::nullopt;
}

void AppItem::prepare(std::optional<std::string> resolvedPath) {
    auto keys = std::make_shared<AppItemSearchKeys>();
    keys->name = text::FoldedText(name);
    std::string searchText = name;
    if (auto secondary = secondaryText()) searchText.append(" ").append(*secondary);
    for (const auto& alias : aliases)
        searchText.append(" ").append(alias);
    keys->searchText = text::FoldedText(searchText);
    keys->words = keys->searchText.words();
    keys->nameSortKey = text::nameSortKey(name);
    keys->resolvedPath = resolvedPath ? std::move(*resolvedPath) : resolveSymlinks(path);
    keys->byteMask = byteMask(keys->name.bytes()) | byteMask(keys->searchText.bytes());
    for (std::size_t i = 0; i < 8; ++i) {
        const auto byte =
            i < keys->nameSortKey.size() ? static_cast<unsigned char>(keys->nameSortKey[i]) : 0U;
        keys->sortPrefix = (keys->sortPrefix << 8U) | byte;
    }
    keys_ = std::move(keys);
}

std::uint64_t byteMask(std::string_view bytes) {
    std::uint64_t mask = 0;
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        unsigned bit = 0;
        if (b >= 'a' && b <= 'z') {
            bit = b - 'a';
        } else if (b >= '0' && b <= '9') {
            bit = 26U + (b - '0');
        } else {
            bit = 36U + b % 28U;
        }
        mask |= std::uint64_t{1} << bit;
    }
    return mask;
}

AppItem AppItem::calculator(const Calculator::Result& result) {
    return make(nameBasedUUID("quenlit.calc:" + result.expression + "=" + result.copyText), result.display,
                "Calculator", IconRef::symbol("plus.forwardslash.minus", "Calculator"), false,
                CalculatorDetail{result.expression}, {}, Kind::makeCalculator(result.copyText));
}

AppItem AppItem::folderItem(const FolderShortcut& shortcut) {
    std::string path = shortcut.path.string();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return make(shortcut.id, shortcut.name, path, IconRef::file(path), false, {}, shortcut.aliases,
                Kind::folder);
}

const std::vector<AppItem>& AppItem::commandItems() {
    static const std::vector<AppItem> items{
        command("Quit Quenlit", "power.circle.fill", "A1B2C3D4-E5F6-7890-ABCD-EF1234567890", {}, Kind::quit),
        command("Left Half", "rectangle.lefthalf.filled", "B2C3D4E5-F6A7-8901-BCDE-F12345678901",
                {"lh", "left"}, Kind::leftHalf),
        command("Right Half", "rectangle.righthalf.filled", "C3D4E5F6-A7B8-9012-CDEF-123456789012",
                {"rh", "right"}, Kind::rightHalf),
        command("Maximize", "arrow.up.left.and.arrow.down.right", "D4E5F6A7-B8C9-0123-DEF0-234567890123",
                {"max"}, Kind::maximize),
        command("Reasonable Size", "macwindow", "E5F6A7B8-C9D0-1234-EF01-345678901234", {"rs"},
                Kind::reasonableSize),
        command("Top Half", "rectangle.tophalf.filled", "F6A7B8C9-D0E1-2345-F012-456789012345", {"th", "top"},
                Kind::topHalf),
        command("Bottom Half", "rectangle.bottomhalf.filled", "A7B8C9D0-E1F2-3456-0123-567890123456",
                {"bh", "bottom"}, Kind::bottomHalf),
        command("First Third", "rectangle.leadingthird.inset.filled", "B8C9D0E1-F2A3-4567-1234-678901234567",
                {"ft"}, Kind::firstThird),
        command("Last Two Thirds", "rectangle.trailingthird.inset.filled",
                "C9D0E1F2-A3B4-5678-2345-789012345678", {"ltt"}, Kind::lastTwoThirds),
        command("Move to Top", "arrow.up.to.line", "D0E1F2A3-B4C5-6789-3456-890123456789", {"mtt"},
                Kind::moveToTop),
        command("Move to Bottom", "arrow.down.to.line", "E1F2A3B4-C5D6-7890-4567-901234567890", {"mtb"},
                Kind::moveToBottom),
        command("Move to Left", "arrow.left.to.line", "F2A3B4C5-D6E7-8901-5678-012345678901", {"mtl"},
                Kind::moveToLeft),
        command("Move to Right", "arrow.right.to.line", "A3B4C5D6-E7F8-9012-6789-123456789012", {"mtr"},
                Kind::moveToRight),
    };
    return items;
}

const AppItem& AppItem::quitQuenlit() {
    return commandItems()[0];
}
const AppItem& AppItem::leftHalf() {
    return commandItems()[1];
}
const AppItem& AppItem::rightHalf() {
    return commandItems()[2];
}
const AppItem& AppItem::maximize() {
    return commandItems()[3];
}
const AppItem& AppItem::reasonableSize() {
    return commandItems()[4];
}
const AppItem& AppItem::topHalf() {
    return commandItems()[5];
}
const AppItem& AppItem::bottomHalf() {
    return commandItems()[6];
}
const AppItem& AppItem::firstThird() {
    return commandItems()[7];
}
const AppItem& AppItem::lastTwoThirds() {
    return commandItems()[8];
}
const AppItem& AppItem::moveToTop() {
    return commandItems()[9];
}
const AppItem& AppItem::moveToBottom() {
    return commandItems()[10];
}
const AppItem& AppItem::moveToLeft() {
    return commandItems()[11];
}
const AppItem& AppItem::moveToRight() {
    return commandItems()[12];
}

}  // namespace quenlit
