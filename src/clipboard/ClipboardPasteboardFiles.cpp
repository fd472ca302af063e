#include "clipboard/ClipboardPasteboardFiles.h"

#include <filesystem>
#include <system_error>

namespace quenlit::ClipboardPasteboardFiles {
namespace {

namespace fs = std::filesystem;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string withoutTrailingSlashes(std::string s) {
    while (!s.empty() && s.back() == '/')
        s.pop_back();
    return s;
}

// A root matches whole path components only, so "/tmp" does not claim "/tmpfiles/report.pdf".
bool liesInside(const std::string& path, const std::string& root) {
    if (root.empty()) return true;  // the root folder itself
    return path.compare(0, root.size(), root) == 0 &&
           (path.size() == root.size() || path[root.size()] == '/');
}

// The lines of a text/uri-list entry, without line ends, blank lines and comments.
std::vector<std::string_view> uriListLines(std::string_view data) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string_view::npos) end = data.size();
        std::string_view line = data.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.remove_suffix(1);
        }
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (!line.empty() && line.front() != '#') lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::vector<std::string> volatileRoots(const XdgDirs& dirs) {
    std::vector<std::string> given = {"/tmp", "/var/tmp", "/dev/shm"};
    if (dirs.runtimeDir) given.push_back(dirs.runtimeDir->string());
    given.push_back(dirs.cacheHome.string());

    // Files are compared by their resolved path, so a root reached through a symbolic link (a cache
    // folder moved to another disk) is listed resolved as well.
    std::vector<std::string> roots;
    for (const std::string& root : given) {
        roots.push_back(withoutTrailingSlashes(root));
        std::error_code ec;
        const fs::path resolved = fs::weakly_canonical(root, ec);
        if (ec) continue;
        std::string resolvedText = withoutTrailingSlashes(resolved.string());
        if (resolvedText != roots.back()) roots.push_back(std::move(resolvedText));
    }
    return roots;
}

std::vector<std::string> volatileRoots() {
    return volatileRoots(XdgDirs::current());
}

std::optional<std::string> filePath(std::string_view url) {
    constexpr std::string_view scheme = "file:";
    if (url.size() < scheme.size() || !equalsIgnoringASCIICase(url.substr(0, scheme.size()), scheme)) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(scheme.size());
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return std::nullopt;
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !equalsIgnoringASCIICase(host, "localhost")) return std::nullopt;
        rest.remove_prefix(slash);
    }
    if (rest.empty() || rest.front() != '/') return std::nullopt;
    rest = rest.substr(0, rest.find_first_of("?#"));

    std::string path;
    path.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path.push_back(rest[i]);
            continue;
        }
        if (i + 2 >= rest.size()) return std::nullopt;
        const int high = hexValue(rest[i + 1]);
        const int low = hexValue(rest[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        const char byte = static_cast<char>(high * 16 + low);
        if (byte == '\0') return std::nullopt;  // no path can hold it
        path.push_back(byte);
        i += 2;
    }
    return path;
}

std::string fileURL(std::string_view path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (char c : path) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (keep) {
            url.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            url.push_back('%');
            url.push_back(digits[byte >> 4]);
            url.push_back(digits[byte & 0xF]);
        }
    }
    return url;
}

bool isDurableFile(const std::string& path, const std::vector<std::string>& roots) {
    std::error_code ec;
    if (!fs::exists(path, ec) || ec) return false;
    const fs::path resolved = fs::canonical(path, ec);
    if (ec) return false;
    std::string candidate = resolved.string();
    if (candidate.rfind("/private/", 0) == 0) candidate.erase(0, 8);
    for (const std::string& root : roots) {
        if (liesInside(candidate, withoutTrailingSlashes(root))) return false;
    }
    return true;
}

namespace {

template <typename LegacyList>
std::vector<FileURL> durableFiles(const std::vector<platform::PasteboardItem>& items, LegacyList legacyList,
                                  std::size_t limit, const std::vector<std::string>& roots) {
    std::vector<FileURL> result;
    if (limit == 0) return result;
    bool sawFileURL = false;
    for (const platform::PasteboardItem& item : items) {
        const std::optional<std::string> data = item.dataFor(platform::pasteboardType::fileURL);
        if (!data) continue;
        for (std::string_view line : uriListLines(*data)) {
            std::optional<std::string> path = filePath(line);
            if (!path) continue;
            sawFileURL = true;
            if (!isDurableFile(*path, roots)) continue;
            result.push_back({std::string(line), std::move(*path)});
            if (result.size() >= limit) return result;
        }
    }
    if (sawFileURL) return result;

    const std::optional<std::vector<std::string>> legacy = legacyList();
    if (!legacy) return result;
    for (const std::string& path : *legacy) {
        if (path.empty() || path.front() != '/' || !isDurableFile(path, roots)) continue;
        result.push_back({fileURL(path), path});
        if (result.size() >= limit) break;
    }
    return result;
}

std::optional<FileURL> firstImage(std::vector<FileURL> files, platform::ImageCodec& codec) {
    for (FileURL& url : files) {
        if (isImageFile(url, codec)) return std::move(url);
    }
    return std::nullopt;
}

}  // namespace

std::vector<FileURL> durableFileURLs(platform::Pasteboard& pasteboard, std::size_t limit,
                                     const std::vector<std::string>& roots) {
    if (limit == 0) return {};
    return durableFiles(
        pasteboard.items(), [&pasteboard] { return pasteboard.legacyFilenames(); }, limit, roots);
}

std::vector<FileURL> durableFileURLs(const platform::PasteboardContent& content, std::size_t limit,
                                     const std::vector<std::string>& roots) {
    return durableFiles(
        content.items, [&content] { return content.legacyFilenames; }, limit, roots);
}

std::optional<FileURL> firstDurableImageFileURL(const platform::PasteboardContent& content,
                                                platform::ImageCodec& codec,
                                                const std::vector<std::string>& roots) {
    return firstImage(durableFileURLs(content, 32, roots), codec);
}

std::optional<FileURL> firstDurableImageFileURL(platform::Pasteboard& pasteboard, platform::ImageCodec& codec,
                                                const std::vector<std::string>& roots) {
    return firstImage(durableFileURLs(pasteboard, 32, roots), codec);
}

bool isImageFile(const FileURL& url, platform::ImageCodec& codec) {
    return codec.isImageFile(url.path);
}

std::optional<std::string> pngData(const FileURL& url, platform::ImageCodec& codec) {
    std::optional<std::string> png = codec.pngFromFile(url.path);
    if (png && png->empty()) return std::nullopt;
    return png;
}

}  // namespace quenlit::ClipboardPasteboardFiles
