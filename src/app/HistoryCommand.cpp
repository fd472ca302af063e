#include "app/Commands.h"

#include "backends/linux/PosixAtomicFile.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "clipboard/ClipboardMenu.h"
#include "clipboard/ClipboardStore.h"
#include "clipboard/HistoryJson.h"

#include <charconv>
#include <memory>
#include <ostream>
#include <set>

namespace quenlit::app {
namespace {

constexpr const char* kUsage =
    "usage: quenlit history [--json] [--limit N] [--] [QUERY...]\n"
    "       quenlit history --stats\n";

struct HistoryArguments {
    bool json = false;
    bool stats = false;
    std::optional<std::size_t> limit;
    std::vector<std::string> words;
};

std::optional<std::size_t> positiveNumber(const std::string& s) {
    std::size_t value = 0;
    const char* end = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(s.data(), end, value);
    if (s.empty() || ec != std::errc() || ptr != end || value == 0) return std::nullopt;
    return value;
}

// Options come before "--"; every other word is part of the query.
std::optional<HistoryArguments> parse(std::span<const std::string> args, std::ostream& err) {
    HistoryArguments parsed;
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsDone || !a.starts_with("--")) {
            parsed.words.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "--json") {
            parsed.json = true;
        } else if (a == "--stats") {
            parsed.stats = true;
        } else if (a == "--limit") {
            std::optional<std::size_t> n = i + 1 < args.size() ? positiveNumber(args[i + 1]) : std::nullopt;
            if (!n) {
                err << "quenlit: --limit needs a positive whole number\n" << kUsage;
                return std::nullopt;
            }
            parsed.limit = n;
            ++i;
        } else {
            err << "quenlit: unknown option '" << a << "' for history (see 'quenlit --help')\n";
            return std::nullopt;
        }
    }
    if (parsed.stats && (parsed.json || parsed.limit || !parsed.words.empty())) {
        err << "quenlit: --stats takes no other option and no query\n" << kUsage;
        return std::nullopt;
    }
    return parsed;
}

// The same shortened text as the clipboard panel's rows, safe for a terminal: the panel turns line
// breaks and tabs into spaces, and every other control character (an escape sequence in a copied
// text would retitle or reprogram the terminal) becomes a space as well.
std::string shortened(const ClipboardItem& item) {
    std::string safe;
    for (char32_t c : text::decodeUtf8(shortenedEntryText(item)))
        text::appendUtf8(safe, c < 0x20 || (c >= 0x7F && c <= 0x9F) ? U' ' : c);
    return safe;
}

std::uintmax_t fileSize(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

}  // namespace

// Reads the history as the program loads it (its first items, the image limit applied) and
// changes nothing: no save, no migration, no deletion of the images beyond the limit.
int runHistory(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::optional<HistoryArguments> parsed = parse(args, err);
    if (!parsed) return 2;
    const ClipboardStore::Options defaults;
    const std::filesystem::path path = XdgDirs::current().appDataDir() / ClipboardStore::historyFileName;
    std::error_code ec;
    if (std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found) {
        // With --json the output stays JSON lines only: the remark is no entry.
        (parsed->json ? err : out) << "clipboard: no history file yet at " << path.string() << '\n';
        return 0;
    }
    const auto maxItems = static_cast<std::size_t>(defaults.maxItems);
    linux_backend::PosixAtomicFile files;
    historyJson::Decoded decoded = historyJson::readFile(
        files, path, maxItems, historyJson::largestFileSize(maxItems, defaults.maxTextLength));
    if (decoded.error) {
        err << "clipboard: failed to load history — " << *decoded.error << '\n';
        return 1;
    }
    std::vector<ClipboardItem> items = std::move(decoded.items);
    ClipboardHistory::capImages(items, defaults.maxImages);

    if (parsed->stats) {
        std::uintmax_t bytes = fileSize(path);
        std::size_t images = 0;
        std::set<std::string> counted;
        for (const auto& item : items) {
            if (item.kind != ClipboardItem::Kind::image) continue;
            ++images;
            // Only the store's own files count: a path elsewhere is as good as missing.
            const auto file = ClipboardHistory::imageFile(item, path.parent_path() / "images");
            if (file && counted.insert(file->string()).second) bytes += fileSize(*file);
        }
        out << "items: " << items.size() << "\nimages: " << images << "\nbytes: " << bytes << '\n';
        return 0;
    }

    std::string query;
    for (const auto& w : parsed->words)
        query += (query.empty() ? "" : " ") + w;
    const auto now = std::chrono::system_clock::now();
    std::size_t shown = 0;
    for (const auto& item : ClipboardHistory::filter(items, query)) {
        if (parsed->limit && shown == *parsed->limit) break;
        ++shown;
        if (parsed->json) {
            out << historyJson::encodeItem(item) << '\n';
        } else {
            out << item.timeLabel(now) << "  " << ClipboardItem::kindName(item.kind) << "  "
                << shortened(item) << '\n';
        }
    }
    if (shown == 0) {
        std::ostream& remark = parsed->json ? err : out;
        if (items.empty()) {
            remark << "clipboard: the history at " << path.string() << " is empty\n";
        } else {
            remark << "clipboard: no entry of " << items.size() << " matches \"" << query << "\"\n";
        }
    }
    return 0;
}

}  // namespace quenlit::app
