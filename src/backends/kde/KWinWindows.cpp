#include "backends/kde/KWinWindows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

namespace quenlit::kde {

std::uint64_t KWinWindowNumbers::numberFor(const std::string& uuid) {
    const auto known = numbers_.find(uuid);
    if (known != numbers_.end()) return known->second;
    const std::uint64_t number = next_++;
    numbers_.emplace(uuid, number);
    uuids_.emplace(number, uuid);
    return number;
}

std::optional<std::string> KWinWindowNumbers::uuidOf(std::uint64_t number) const {
    const auto found = uuids_.find(number);
    if (found == uuids_.end()) return std::nullopt;
    return found->second;
}

Result<std::vector<KWinWindow>> parseKWinWindows(const std::string& json, KWinWindowNumbers& numbers) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    if (error.error != QJsonParseError::NoError) return Failure{"KWin's script answered no JSON"};
    if (document.isObject() && document.object().contains(QLatin1String("error")))
        return Failure{"KWin's script failed: " +
                       document.object().value(QLatin1String("error")).toString().toStdString()};
    if (document.isObject() && document.object().value(QLatin1String("gone")).toBool())
        return Failure::gone("the window is gone");
    QJsonArray items;
    if (document.isArray())
        items = document.array();
    else if (document.isObject())
        items.append(document.object());
    std::vector<KWinWindow> windows;
    for (const QJsonValue item : items) {
        const QJsonObject o = item.toObject();
        KWinWindow w;
        w.uuid = o.value(QLatin1String("id")).toString().toStdString();
        if (w.uuid.empty()) continue;
        w.id = numbers.numberFor(w.uuid);
        w.processIdentifier = o.value(QLatin1String("pid")).toInt();
        w.resourceClass = o.value(QLatin1String("resourceClass")).toString().toStdString();
        w.resourceName = o.value(QLatin1String("resourceName")).toString().toStdString();
        w.desktopFile = o.value(QLatin1String("desktopFile")).toString().toStdString();
        w.caption = o.value(QLatin1String("caption")).toString().toStdString();
        w.frame = {o.value(QLatin1String("x")).toDouble(), o.value(QLatin1String("y")).toDouble(),
                   o.value(QLatin1String("width")).toDouble(), o.value(QLatin1String("height")).toDouble()};
        w.normal = o.value(QLatin1String("normal")).toBool(true);
        w.minimized = o.value(QLatin1String("minimized")).toBool();
        w.fullScreen = o.value(QLatin1String("fullScreen")).toBool();
        w.resizeable = o.value(QLatin1String("resizeable")).toBool(true);
        w.skipTaskbar = o.value(QLatin1String("skipTaskbar")).toBool();
        w.active = o.value(QLatin1String("active")).toBool();
        w.stacking = o.value(QLatin1String("stacking")).toInt();
        windows.push_back(std::move(w));
    }
    return windows;
}

KWinWindows::KWinWindows(KWinScripting& scripting)
    : scripting_(scripting), turns_(std::make_unique<QObject>()) {}

KWinWindows::~KWinWindows() = default;

Result<std::vector<KWinWindow>> KWinWindows::list() {
    const auto asked = std::chrono::steady_clock::now();
    if (snapshot_ && snapshot_->sameTurn && snapshot_->scriptsSent == scripting_.scriptsSent() &&
        asked - snapshot_->asked <= kSnapshotAge)
        return snapshot_->windows;
    snapshot_.reset();
    auto answer = scripting_.run(
        "var out = [], list = kwin.windows();\n"
        "for (var i = 0; i < list.length; ++i) out.push(kwin.describe(list[i]));\n"
        "kwin.answer(out);");
    if (!answer) return answer.error();
    auto windows = parseKWinWindows(*answer, numbers_);
    if (!windows) return windows;
    snapshot_ = Snapshot{*windows, asked, scripting_.scriptsSent(), true};
    QTimer::singleShot(0, turns_.get(), [this] {
        if (snapshot_) snapshot_->sameTurn = false;
    });
    return windows;
}

Result<KWinWindow> KWinWindows::withWindow(std::uint64_t id, const std::string& body) {
    const auto uuid = numbers_.uuidOf(id);
    if (!uuid) return Failure::gone("no such window");
    auto answer = scripting_.run("var w = kwin.find(" + javaScriptString(*uuid) +
                                 ");\nif (!w) { kwin.answer({ gone: true }); return; }\n" + body +
                                 "\nkwin.answer(kwin.describe(w));");
    if (!answer) return answer.error();
    auto parsed = parseKWinWindows(*answer, numbers_);
    if (!parsed) return parsed.error();
    if (parsed->empty()) return Failure::gone("the window is gone");
    return parsed->front();
}

}  // namespace quenlit::kde
