#include "backends/gnome/ShellExtension.h"

#include "backends/gnome/ShellExtensionReceiver.h"

#include "base/Log.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QTimer>

#include <QDBusMetaType>

#include <cmath>

// One key of SendKeys' a(ub).
namespace quenlit_gnome_detail {
struct DBusKey {
    uint keysym = 0;
    bool pressed = true;
};
inline QDBusArgument& operator<<(QDBusArgument& argument, const DBusKey& key) {
    argument.beginStructure();
    argument << key.keysym << key.pressed;
    argument.endStructure();
    return argument;
}
inline const QDBusArgument& operator>>(const QDBusArgument& argument, DBusKey& key) {
    argument.beginStructure();
    argument >> key.keysym >> key.pressed;
    argument.endStructure();
    return argument;
}
}  // namespace quenlit_gnome_detail
Q_DECLARE_METATYPE(quenlit_gnome_detail::DBusKey)

namespace quenlit::gnome {
namespace {

const QString kService = QStringLiteral("org.gnome.Shell");
const QString kPath = QStringLiteral("/io/github/quenlit/Shell1");
const QString kInterface = QStringLiteral("io.github.quenlit.Shell1");

QDBusMessage method(const QString& name, const QList<QVariant>& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, name);
    message.setArguments(arguments);
    return message;
}

// The reply, or why there was none.
Result<QDBusMessage> call(const QString& name, const QList<QVariant>& arguments = {}) {
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        method(name, arguments), QDBus::Block, static_cast<int>(ShellExtension::kCallTimeout.count()));
    if (reply.type() == QDBusMessage::ErrorMessage)
        return Failure{"GNOME Shell's Quenlit extension: " + reply.errorMessage().toStdString()};
    return reply;
}

// A call that answers one boolean: false means the window is gone.
Result<> windowCall(const QString& name, const QList<QVariant>& arguments) {
    auto reply = call(name, arguments);
    if (!reply) return reply.error();
    const auto values = reply.value().arguments();
    if (values.isEmpty() || !values.first().toBool()) return Failure::gone("the window is gone");
    return {};
}

int rounded(double v) {
    return static_cast<int>(std::lround(v));
}

}  // namespace

ShellExtension::ShellExtension()
    : receiver_(std::make_unique<Receiver>(*this)), turns_(std::make_unique<QObject>()) {}

ShellExtension::~ShellExtension() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(kService, kPath, kInterface, QStringLiteral("HotKeyPressed"), receiver_.get(),
                   SLOT(hotKey(QString)));
    bus.disconnect(kService, kPath, kInterface, QStringLiteral("ClipboardChanged"), receiver_.get(),
                   SLOT(clipboard(bool, bool)));
    bus.disconnect(kService, kPath, kInterface, QStringLiteral("FocusChanged"), receiver_.get(),
                   SLOT(focus(int)));
    bus.disconnect(kService, kPath, kInterface, QStringLiteral("Started"), receiver_.get(), SLOT(started()));
}

Result<std::unique_ptr<ShellExtension>> ShellExtension::connect() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return Failure::unsupported("there is no session bus");
    std::unique_ptr<ShellExtension> extension(new ShellExtension());
    // Connected before registering: the extension may send a signal right after.
    bus.connect(kService, kPath, kInterface, QStringLiteral("HotKeyPressed"), extension->receiver_.get(),
                SLOT(hotKey(QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("ClipboardChanged"), extension->receiver_.get(),
                SLOT(clipboard(bool, bool)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("FocusChanged"), extension->receiver_.get(),
                SLOT(focus(int)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("Started"), extension->receiver_.get(),
                SLOT(started()));
    const QDBusMessage reply =
        bus.call(method(QStringLiteral("Register")), QDBus::Block, static_cast<int>(kCallTimeout.count()));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString error = reply.errorName();
        if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            return Failure::unsupported("GNOME Shell is not running on this session bus");
        if (error == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
            error == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
            error == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface"))
            return Failure::unsupported("GNOME Shell runs without Quenlit's extension");
        return Failure{"GNOME Shell's Quenlit extension refused: " + reply.errorMessage().toStdString()};
    }
    const auto values = reply.arguments();
    const unsigned version = values.isEmpty() ? 0 : values.first().toUInt();
    if (values.size() >= 2) {
        for (const QString& key : values.at(1).toStringList())
            extension->boundHotKeys_.push_back(key.toStdString());
    }
    if (version != kVersion)
        return Failure::unsupported("GNOME Shell runs version " + std::to_string(version) +
                                    " of Quenlit's extension; this program needs version " +
                                    std::to_string(kVersion));
    return extension;
}

void ShellExtension::registerAgain() {
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(
        method(QStringLiteral("Register")), static_cast<int>(kCallTimeout.count()));
    auto* watcher = new QDBusPendingCallWatcher(pending);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [this](QDBusPendingCallWatcher* w) {
        const QDBusMessage reply = w->reply();
        w->deleteLater();
        if (reply.type() == QDBusMessage::ErrorMessage) {
            log::write("gnome: the Shell extension came back but refused this program: " +
                       reply.errorMessage().toStdString());
            return;
        }
        boundHotKeys_.clear();
        const auto values = reply.arguments();
        if (values.size() >= 2) {
            for (const QString& key : values.at(1).toStringList())
                boundHotKeys_.push_back(key.toStdString());
        }
        log::write("gnome: the Shell extension came back (after a locked screen): registered again");
    });
}

Result<std::vector<ShellWindow>> ShellExtension::windows() {
    const auto asked = std::chrono::steady_clock::now();
    if (snapshot_ && snapshot_->sameTurn && asked - snapshot_->asked <= kSnapshotAge)
        return snapshot_->windows;
    snapshot_.reset();
    auto reply = call(QStringLiteral("ListWindows"));
    if (!reply) return reply.error();
    std::vector<ShellWindow> out;
    const auto values = reply.value().arguments();
    if (values.isEmpty()) return out;
    const QDBusArgument list = values.first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        ShellWindow w;
        qulonglong id = 0;
        int pid = 0, x = 0, y = 0, width = 0, height = 0;
        QString wmClass, title;
        list.beginStructure();
        list >> id >> pid >> wmClass >> title >> x >> y >> width >> height >> w.focused >> w.minimised >>
            w.fullScreen >> w.resizable >> w.ordinary;
        list.endStructure();
        w.id = id;
        w.pid = pid;
        w.wmClass = wmClass.toStdString();
        w.title = title.toStdString();
        w.frame = {static_cast<double>(x), static_cast<double>(y), static_cast<double>(width),
                   static_cast<double>(height)};
        out.push_back(std::move(w));
    }
    list.endArray();
    snapshot_ = Snapshot{out, asked, true};
    QTimer::singleShot(0, turns_.get(), [this] {
        if (snapshot_) snapshot_->sameTurn = false;
    });
    return out;
}

Result<> ShellExtension::activateWindow(std::uint64_t id) {
    snapshot_.reset();
    return windowCall(QStringLiteral("ActivateWindow"), {QVariant::fromValue(qulonglong{id})});
}

Result<> ShellExtension::minimiseWindow(std::uint64_t id) {
    snapshot_.reset();
    return windowCall(QStringLiteral("MinimizeWindow"), {QVariant::fromValue(qulonglong{id})});
}

Result<> ShellExtension::moveResizeWindow(std::uint64_t id, const platform::Rect& frame, bool resize) {
    snapshot_.reset();
    return windowCall(QStringLiteral("MoveResizeWindow"),
                      {QVariant::fromValue(qulonglong{id}), rounded(frame.x), rounded(frame.y),
                       rounded(frame.width), rounded(frame.height), resize});
}

Result<> ShellExtension::leaveFullScreen(std::uint64_t id) {
    snapshot_.reset();
    return windowCall(QStringLiteral("LeaveFullScreen"), {QVariant::fromValue(qulonglong{id})});
}

Result<std::vector<ShellMonitor>> ShellExtension::monitors() {
    auto reply = call(QStringLiteral("Monitors"));
    if (!reply) return reply.error();
    std::vector<ShellMonitor> out;
    const auto values = reply.value().arguments();
    if (values.isEmpty()) return out;
    const QDBusArgument list = values.first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        int v[8] = {};
        list.beginStructure();
        for (int& value : v)
            list >> value;
        list.endStructure();
        const auto rect = [](int x, int y, int w, int h) {
            return platform::Rect{static_cast<double>(x), static_cast<double>(y), static_cast<double>(w),
                                  static_cast<double>(h)};
        };
        out.push_back({rect(v[0], v[1], v[2], v[3]), rect(v[4], v[5], v[6], v[7])});
    }
    list.endArray();
    return out;
}

Result<std::vector<std::string>> ShellExtension::clipboardTypes() {
    auto reply = call(QStringLiteral("ClipboardTypes"));
    if (!reply) return reply.error();
    std::vector<std::string> out;
    const auto values = reply.value().arguments();
    if (values.isEmpty()) return out;
    for (const QString& type : values.first().toStringList())
        out.push_back(type.toStdString());
    return out;
}

Result<std::string> ShellExtension::clipboardRead(const std::string& type) {
    auto reply = call(QStringLiteral("ClipboardRead"), {QString::fromStdString(type)});
    if (!reply) return reply.error();
    const auto values = reply.value().arguments();
    if (values.isEmpty()) return std::string();
    const QByteArray data = values.first().toByteArray();
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

Result<> ShellExtension::clipboardWrite(const std::string& type, const std::string& data) {
    auto reply =
        call(QStringLiteral("ClipboardWrite"),
             {QString::fromStdString(type), QByteArray(data.data(), static_cast<qsizetype>(data.size()))});
    if (!reply) return reply.error();
    return {};
}

Result<> ShellExtension::primaryWrite(const std::string& type, const std::string& data) {
    auto reply =
        call(QStringLiteral("PrimaryWrite"),
             {QString::fromStdString(type), QByteArray(data.data(), static_cast<qsizetype>(data.size()))});
    if (!reply) return reply.error();
    return {};
}

namespace {

// Calls without waiting; `done` gets whether the first answer was true.
void callLater(const QDBusMessage& message, std::function<void(bool)> done) {
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(
        message, static_cast<int>(ShellExtension::kCallTimeout.count()) * 5);
    auto* watcher = new QDBusPendingCallWatcher(pending);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [done = std::move(done)](QDBusPendingCallWatcher* w) {
                         const QDBusPendingReply<bool> reply = *w;
                         if (done) done(!reply.isError() && reply.value());
                         w->deleteLater();
                     });
}

}  // namespace

void ShellExtension::sendKeys(const std::vector<ShellKey>& keys, std::function<void(bool)> done) {
    snapshot_.reset();
    static const bool registered = [] {
        qDBusRegisterMetaType<quenlit_gnome_detail::DBusKey>();
        qDBusRegisterMetaType<QList<quenlit_gnome_detail::DBusKey>>();
        return true;
    }();
    static_cast<void>(registered);
    QList<quenlit_gnome_detail::DBusKey> list;
    for (const ShellKey& key : keys)
        list.push_back({key.keysym, key.pressed});
    QDBusMessage message = method(QStringLiteral("SendKeys"));
    message.setArguments({QVariant::fromValue(list)});
    callLater(message, std::move(done));
}

void ShellExtension::showPanel(const std::string& title, platform::Point topLeft,
                               std::function<void(bool)> done) {
    snapshot_.reset();
    callLater(method(QStringLiteral("ShowPanel"),
                     {QString::fromStdString(title), rounded(topLeft.x), rounded(topLeft.y)}),
              std::move(done));
}

}  // namespace quenlit::gnome
