#include "backends/x11/QtPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QObject>
#include <QUrl>

#include <algorithm>

namespace quenlit::x11 {
namespace {

QClipboard* clipboard() {
    return QGuiApplication::clipboard();
}

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string bytes(const QByteArray& a) {
    return std::string(a.constData(), static_cast<std::size_t>(a.size()));
}

// Qt names plain UTF-8 text "text/plain" in some places and with its charset in others.
bool isPlainText(std::string_view type) {
    return type == platform::pasteboardType::string || type == "text/plain" || type == "UTF8_STRING";
}

}  // namespace

std::vector<std::string> parseGnomeCopiedFiles(std::string_view text) {
    std::vector<std::string> paths;
    std::size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // The first line names the operation ("copy" or "cut").
        if (!first && !line.empty()) {
            QUrl url(qs(line));
            if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
        }
        first = false;
        start = end + 1;
    }
    return paths;
}

QtPasteboard::QtPasteboard() : context_(std::make_unique<QObject>()) {
    QObject::connect(clipboard(), &QClipboard::changed, context_.get(), [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard) ++changeCount_;
    });
}

QtPasteboard::~QtPasteboard() = default;

std::vector<std::string> QtPasteboard::types() {
    std::vector<std::string> out;
    if (const QMimeData* mime = clipboard()->mimeData(QClipboard::Clipboard)) {
        for (const QString& f : mime->formats())
            out.push_back(f.toStdString());
    }
    return out;
}

std::vector<platform::PasteboardItem> QtPasteboard::items() {
    std::vector<platform::PasteboardItem> out;
    const QMimeData* mime = clipboard()->mimeData(QClipboard::Clipboard);
    if (mime == nullptr) return out;
    // A multi-file copy is one URL list: each URL is an item of its own, as file managers mean it.
    for (const QUrl& url : mime->urls()) {
        platform::PasteboardItem item;
        item.data.emplace_back(std::string(platform::pasteboardType::fileURL), url.toString().toStdString());
        out.push_back(std::move(item));
    }
    if (out.empty()) out.emplace_back();
    for (const QString& f : mime->formats()) {
        if (f.toStdString() == platform::pasteboardType::fileURL) continue;
        out.front().data.emplace_back(f.toStdString(), bytes(mime->data(f)));
    }
    return out;
}

std::optional<std::string> QtPasteboard::data(std::string_view type) {
    const QMimeData* mime = clipboard()->mimeData(QClipboard::Clipboard);
    if (mime == nullptr || !mime->hasFormat(qs(type))) return std::nullopt;
    return bytes(mime->data(qs(type)));
}

std::optional<std::string> QtPasteboard::string(std::string_view type) {
    const QMimeData* mime = clipboard()->mimeData(QClipboard::Clipboard);
    if (mime == nullptr) return std::nullopt;
    if (isPlainText(type)) {
        if (!mime->hasText()) return std::nullopt;
        return mime->text().toStdString();
    }
    if (!mime->hasFormat(qs(type))) return std::nullopt;
    return bytes(mime->data(qs(type)));
}

std::optional<std::vector<std::string>> QtPasteboard::legacyFilenames() {
    auto raw = data(platform::pasteboardType::legacyFilenames);
    if (!raw) return std::nullopt;
    return parseGnomeCopiedFiles(*raw);
}

long QtPasteboard::clearContents() {
    declared_.clear();
    pending_.clear();
    clipboard()->clear(QClipboard::Clipboard);
    return changeCount_;
}

void QtPasteboard::declareTypes(const std::vector<std::string>& types) {
    declared_ = types;
    pending_.clear();
}

bool QtPasteboard::setData(std::string_view data, std::string_view type) {
    if (std::find(declared_.begin(), declared_.end(), type) == declared_.end()) return false;
    pending_.emplace_back(std::string(type), std::string(data));
    publish();
    return true;
}

bool QtPasteboard::setString(std::string_view text, std::string_view type) {
    return setData(text, type);
}

void QtPasteboard::publish() {
    auto* mime = new QMimeData();  // the clipboard takes ownership
    for (const auto& [type, value] : pending_) {
        if (isPlainText(type)) {
            mime->setText(qs(value));
        } else if (type == platform::pasteboardType::fileURL) {
            mime->setUrls({QUrl(qs(value))});
        } else {
            mime->setData(qs(type), QByteArray(value.data(), static_cast<qsizetype>(value.size())));
        }
    }
    clipboard()->setMimeData(mime, QClipboard::Clipboard);
}

}  // namespace quenlit::x11
