#include "backends/linux/ClipboardTypes.h"

#include "base/Text.h"
#include "platform/Pasteboard.h"

#include <QString>
#include <QUrl>

#include <algorithm>
#include <array>
#include <unordered_set>
#include <utility>

namespace quenlit::linux_backend {
namespace {

// The text targets, best first: UTF-8 before Latin-1 (STRING), which is converted.
constexpr std::array<std::string_view, 6> kTextTargets = {
    "UTF8_STRING", "text/plain;charset=utf-8", "text/plain;charset=UTF-8", "STRING", "TEXT", "text/plain"};
// Raster images other than PNG, best first; the core decodes each and stores it as PNG.
constexpr std::array<std::string_view, 9> kOtherImageTargets = {
    "image/tiff",  "image/jpeg",     "image/webp", "image/bmp",
    "image/x-bmp", "image/x-ms-bmp", "image/gif",  "image/x-portable-pixmap",
    "image/jpg"};
// The selection protocol's own targets, which name no content.
constexpr std::array<std::string_view, 6> kProtocolTargets = {"TARGETS",      "TIMESTAMP", "MULTIPLE",
                                                              "SAVE_TARGETS", "DELETE",    "INCR"};

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

template <std::size_t N>
bool among(const std::array<std::string_view, N>& list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

bool isTextTarget(std::string_view name) {
    return among(kTextTargets, name);
}

}  // namespace

std::vector<std::string> parseGnomeCopiedFiles(std::string_view text) {
    std::vector<std::string> paths;
    bool first = true;
    // The first line names the operation ("copy" or "cut"); the others are URLs.
    for (const std::string& url : parseUriList(text)) {
        if (std::exchange(first, false)) continue;
        const QUrl parsed(qs(url));
        if (parsed.isLocalFile()) paths.push_back(parsed.toLocalFile().toStdString());
    }
    return paths;
}

std::vector<std::string> parseUriList(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        while (!line.empty() && line.back() == '\0')
            line.remove_suffix(1);
        if (!line.empty() && line.front() != '#') lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> pasteboardTypesForTargets(const std::vector<std::string>& targets) {
    std::vector<std::string> types;
    std::unordered_set<std::string_view> seen;
    const auto add = [&types, &seen](std::string_view type) {
        if (seen.insert(type).second) types.emplace_back(type);
    };
    for (const std::string& target : targets) {
        if (isTextTarget(target)) {
            add(platform::pasteboardType::string);
        } else if (target == platform::pasteboardType::png) {
            add(platform::pasteboardType::png);
        } else if (among(kOtherImageTargets, target)) {
            add(platform::pasteboardType::tiff);
        } else if (!among(kProtocolTargets, target)) {
            add(target);
        }
    }
    return types;
}

std::optional<std::string> targetForType(std::string_view type, const std::vector<std::string>& targets) {
    const std::unordered_set<std::string_view> offeredTargets(targets.begin(), targets.end());
    const auto offered = [&offeredTargets](std::string_view t) { return offeredTargets.contains(t); };
    const auto firstOf = [&offered](const auto& list) -> std::optional<std::string> {
        for (std::string_view t : list) {
            if (offered(t)) return std::string(t);
        }
        return std::nullopt;
    };
    if (type == platform::pasteboardType::string) return firstOf(kTextTargets);
    if (type == platform::pasteboardType::tiff) return firstOf(kOtherImageTargets);
    if (offered(type)) return std::string(type);
    return std::nullopt;
}

bool isLatin1Target(std::string_view target) {
    return target == "STRING";
}

std::string latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (unsigned char c : latin1)
        text::appendUtf8(out, c);
    return out;
}

std::string utf8ToLatin1(std::string_view utf8) {
    std::string out;
    for (char32_t c : text::decodeUtf8(utf8))
        out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace quenlit::linux_backend
