#include "backends/kde/KGlobalAccelHotKeys.h"

#include "backends/linux/KeyPositions.h"
#include "base/Log.h"

#include <algorithm>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QKeySequence>
#include <QList>
#include <QStringList>

namespace quenlit::kde {
namespace {

constexpr const char* kService = "org.kde.kglobalaccel";
constexpr const char* kPath = "/kglobalaccel";
constexpr const char* kInterface = "org.kde.KGlobalAccel";
constexpr const char* kComponentInterface = "org.kde.kglobalaccel.Component";

// setShortcut's flags (KGlobalAccel's own).
constexpr unsigned kIsDefault = 1;
constexpr unsigned kSetPresent = 2;

QStringList actionId(const std::string& action, const std::string& friendly) {
    return {QString::fromLatin1(KGlobalAccelHotKeys::kComponent), QString::fromStdString(action),
            QStringLiteral("Quenlit"), QString::fromStdString(friendly)};
}

QDBusMessage call(const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface), method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 2000);
}

QList<int> keysOf(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return qdbus_cast<QList<int>>(reply.arguments().at(0));
}

}  // namespace

std::optional<int> qtKeyFor(std::uint32_t keysym, platform::Modifiers modifiers) {
    int key = 0;
    if (keysym >= 0x20 && keysym <= 0x7e) {
        key = (keysym >= 'a' && keysym <= 'z') ? static_cast<int>(keysym - 'a' + 'A')
                                               : static_cast<int>(keysym);
    } else if (keysym >= 0xffbe && keysym <= 0xffd5) {  // F1 … F24
        key = Qt::Key_F1 + static_cast<int>(keysym - 0xffbe);
    } else {
        switch (keysym) {
            case 0xff1b:
                key = Qt::Key_Escape;
                break;
            case 0xff0d:
                key = Qt::Key_Return;
                break;
            case 0xff09:
                key = Qt::Key_Tab;
                break;
            case 0xff08:
                key = Qt::Key_Backspace;
                break;
            case 0xffff:
                key = Qt::Key_Delete;
                break;
            case 0xff51:
                key = Qt::Key_Left;
                break;
            case 0xff52:
                key = Qt::Key_Up;
                break;
            case 0xff53:
                key = Qt::Key_Right;
                break;
            case 0xff54:
                key = Qt::Key_Down;
                break;
            default:
                return std::nullopt;
        }
    }
    if (modifiers.super) key |= Qt::META;
    if (modifiers.shift) key |= Qt::SHIFT;
    if (modifiers.alt) key |= Qt::ALT;
    if (modifiers.control) key |= Qt::CTRL;
    return key;
}

KGlobalAccelHotKeys::KGlobalAccelHotKeys(std::map<std::uint32_t, Action> actions)
    : actions_(std::move(actions)) {}

KGlobalAccelHotKeys::~KGlobalAccelHotKeys() {
    for (const auto& [ref, id] : registered_) {
        const Action& action = actions_.at(id);
        (void)call(QStringLiteral("setInactive"), {actionId(action.name, action.friendlyName)});
    }
}

std::string KGlobalAccelHotKeys::describe(std::uint32_t keysym, platform::Modifiers modifiers) const {
    const auto key = qtKeyFor(keysym, modifiers);
    if (!key) return "key " + std::to_string(keysym);
    return QKeySequence(*key).toString(QKeySequence::PortableText).toStdString();
}

Result<platform::HotKeyRef> KGlobalAccelHotKeys::registerHotKey(std::uint32_t id, std::uint32_t keysym,
                                                                platform::Modifiers modifiers) {
    const auto action = actions_.find(id);
    if (action == actions_.end()) return Failure{"no action for this hotkey"};
    for (const auto& [ref, registeredId] : registered_)
        if (registeredId == id) return Failure{"already registered"};
    const auto key = qtKeyFor(keysym, modifiers);
    if (!key) return Failure{"the key is not on the keyboard"};
    if (!QDBusConnection::sessionBus().isConnected()) return Failure::unsupported("no session D-Bus");

    const QStringList ids = actionId(action->second.name, action->second.friendlyName);
    const QDBusMessage registeredReply = call(QStringLiteral("doRegister"), {ids});
    if (registeredReply.type() != QDBusMessage::ReplyMessage)
        return Failure{"kglobalaccel did not answer: " + registeredReply.errorMessage().toStdString()};
    const QVariant keys = QVariant::fromValue(QList<int>{*key});
    (void)call(QStringLiteral("setShortcut"), {ids, keys, kIsDefault});
    // Without NoAutoloading, kglobalaccel keeps the key the user saved for the action, if any, and
    // answers with the key now in force: empty when another component holds ours.
    const QList<int> active = keysOf(call(QStringLiteral("setShortcut"), {ids, keys, kSetPresent}));
    const bool anyKey = std::any_of(active.begin(), active.end(), [](int k) { return k != 0; });
    if (!anyKey) {
        std::string holder;
        const QDBusMessage owners = call(QStringLiteral("getGlobalShortcutsByKey"), {*key});
        if (owners.type() == QDBusMessage::ReplyMessage && !owners.arguments().isEmpty()) {
            // a(ssssssaiai): the action's unique and friendly names, the component's, the context's, then
            // the keys and the default keys.
            const QDBusArgument list = owners.arguments().at(0).value<QDBusArgument>();
            list.beginArray();
            while (!list.atEnd()) {
                QString name, component, friendly, componentFriendly, context, contextFriendly;
                QList<int> keysHeld, defaults;
                list.beginStructure();
                list >> name >> friendly >> component >> componentFriendly >> context >> contextFriendly >>
                    keysHeld >> defaults;
                list.endStructure();
                if (component != QString::fromLatin1(kComponent))
                    holder = (componentFriendly.isEmpty() ? component : componentFriendly).toStdString() +
                             " (" + (friendly.isEmpty() ? name : friendly).toStdString() + ")";
            }
            list.endArray();
        }
        // Nobody else holds the key: the user took it from this action in System Settings.
        if (holder.empty()) return Failure{"no key is set for it in System Settings"};
        return Failure{"taken by " + holder};
    }
    if (active.front() != *key)
        log::write("hotkey: " + action->second.name + " is on " +
                   QKeySequence(active.front()).toString(QKeySequence::PortableText).toStdString() +
                   " (set in System Settings) instead of " + describe(keysym, modifiers));
    if (!listening_) {
        listening_ = QDBusConnection::sessionBus().connect(
            QString::fromLatin1(kService), QStringLiteral("/component/") + QString::fromLatin1(kComponent),
            QString::fromLatin1(kComponentInterface), QStringLiteral("globalShortcutPressed"), this,
            SLOT(onPressed(QString, QString, qlonglong)));
        if (!listening_) return Failure{"cannot follow kglobalaccel's presses"};
    }
    const std::uint64_t ref = nextRef_++;
    registered_[ref] = id;
    return static_cast<platform::HotKeyRef>(ref);
}

void KGlobalAccelHotKeys::unregisterHotKey(platform::HotKeyRef registration) {
    const auto found = registered_.find(static_cast<std::uint64_t>(registration));
    if (found == registered_.end()) return;
    const Action& action = actions_.at(found->second);
    (void)call(QStringLiteral("setInactive"), {actionId(action.name, action.friendlyName)});
    registered_.erase(found);
}

void KGlobalAccelHotKeys::onPressed(const QString& component, const QString& action, qlonglong) {
    if (component != QString::fromLatin1(kComponent)) return;
    for (const auto& [ref, id] : registered_)
        if (QString::fromStdString(actions_.at(id).name) == action) pressed.emit(id);
}

}  // namespace quenlit::kde
