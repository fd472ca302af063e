#include "backends/kde/KWinScripting.h"

#include "base/Log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QThread>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace quenlit::kde {
namespace {

constexpr const char* kService = "org.kde.KWin";
constexpr const char* kAnswerPath = "/org/quenlit/KWinScript";
constexpr const char* kAnswerInterface = "org.quenlit.KWinScript";

// The part of every script that hides Plasma 5's and Plasma 6's names for the same things. Plasma 6
// renamed clientList/activeClient to windowList/activeWindow; which one runs is decided inside KWin.
constexpr const char* kPrelude = R"JS(
var kwin = {
    plasma6: typeof workspace.windowList === "function",
    windows: function () { return this.plasma6 ? workspace.windowList() : workspace.clientList(); },
    active: function () { return this.plasma6 ? workspace.activeWindow : workspace.activeClient; },
    activate: function (w) { if (this.plasma6) workspace.activeWindow = w; else workspace.activeClient = w; },
    id: function (w) { return String(w.internalId); },
    describe: function (w) {
        var g = w.frameGeometry;
        return { id: this.id(w), pid: w.pid, resourceClass: String(w.resourceClass || ""),
                 resourceName: String(w.resourceName || ""), desktopFile: String(w.desktopFileName || ""),
                 caption: String(w.caption || ""), x: g.x, y: g.y, width: g.width, height: g.height,
                 normal: !!(w.normalWindow || w.dialog), minimized: !!w.minimized, fullScreen: !!w.fullScreen,
                 resizeable: !!w.resizeable, skipTaskbar: !!w.skipTaskbar, stacking: w.stackingOrder,
                 active: w === this.active() };
    },
    find: function (id) {
        var list = this.windows();
        for (var i = 0; i < list.length; ++i) if (this.id(list[i]) === id) return list[i];
        return null;
    },
    answer: function (value) {
        callDBus(SERVICE, PATH, INTERFACE, "answer", TOKEN, JSON.stringify(value === undefined ? null : value));
    },
    fail: function (error) { callDBus(SERVICE, PATH, INTERFACE, "fail", TOKEN, String(error)); }
};
)JS";

}  // namespace

std::string javaScriptString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

// Receives the scripts' answers on the answer thread: a virtual object needs no generated
// meta-object code.
class KWinScripting::Receiver final : public QDBusVirtualObject {
  public:
    explicit Receiver(std::shared_ptr<Answers> answers) : answers_(std::move(answers)) {}

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.quenlit.KWinScript\"><method name=\"answer\">"
            "<arg name=\"token\" type=\"s\" direction=\"in\"/><arg name=\"json\" type=\"s\" "
            "direction=\"in\"/>"
            "</method></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const bool failed = message.member() == QLatin1String("fail");
        if ((!failed && message.member() != QLatin1String("answer")) || message.arguments().size() != 2)
            return false;
        {
            std::lock_guard<std::mutex> lock(answers_->mutex);
            answers_->byToken[message.arguments().at(0).toString().toStdString()] = {
                failed, message.arguments().at(1).toString().toStdString()};
        }
        answers_->arrived.notify_all();
        if (message.isReplyRequired()) connection.send(message.createReply());
        return true;
    }

  private:
    std::shared_ptr<Answers> answers_;
};

KWinScripting::KWinScripting()
    : answers_(std::make_shared<Answers>()),
      thread_(std::make_unique<QThread>()),
      receiver_(std::make_unique<Receiver>(answers_)) {
    receiver_->moveToThread(thread_.get());
    thread_->start();
}

KWinScripting::~KWinScripting() {
    QDBusConnection::sessionBus().unregisterObject(QString::fromLatin1(kAnswerPath));
    thread_->quit();
    thread_->wait();
    if (!folder_.empty()) QDir(QString::fromStdString(folder_)).removeRecursively();
}

Result<std::unique_ptr<KWinScripting>> KWinScripting::connect() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return Failure::unsupported("no session D-Bus");
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(kService)))
        return Failure::unsupported("KWin is not on the session bus");
    std::unique_ptr<KWinScripting> scripting(new KWinScripting());
    if (!bus.registerVirtualObject(QString::fromLatin1(kAnswerPath), scripting->receiver_.get()))
        return Failure{"cannot export " + std::string(kAnswerPath) + " on the session bus"};
    scripting->service_ = bus.baseService().toStdString();
    // QtDBus dispatches nothing it receives until the main thread's event loop has turned once after
    // the connection was made; the answers, waited for with the loop blocked, would never come.
    QCoreApplication::processEvents();
    // KWin reads the files as the same user; the runtime folder keeps them from other users.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const QString folder = QString::fromLocal8Bit(runtime != nullptr && *runtime != '\0' ? runtime : "/tmp") +
                           QStringLiteral("/quenlit-kwin-") + QString::number(::getpid());
    if (!QDir().mkpath(folder)) return Failure{"cannot make " + folder.toStdString()};
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    scripting->folder_ = folder.toStdString();
    return scripting;
}

std::string KWinScripting::script(const std::string& body, const std::string& service,
                                  const std::string& token) {
    return "(function () {\nvar SERVICE = " + javaScriptString(service) +
           ", PATH = " + javaScriptString(kAnswerPath) +
           ", INTERFACE = " + javaScriptString(kAnswerInterface) + ", TOKEN = " + javaScriptString(token) +
           ";\n" + kPrelude + "try {\n" + body + "\n} catch (e) { kwin.fail(e); }\n})();\n";
}

Result<std::string> KWinScripting::run(const std::string& body) {
    const std::string token = std::to_string(::getpid()) + "-" + std::to_string(next_++);
    const QString name = QStringLiteral("quenlit-") + QString::fromStdString(token);
    const QString path = QString::fromStdString(folder_) + QStringLiteral("/") + name + QStringLiteral(".js");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return Failure{"cannot write the KWin script " + path.toStdString()};
        const std::string text = script(body, service_, token);
        file.write(text.data(), static_cast<qint64>(text.size()));
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto call = [&](const QString& object, const QString& interface, const QString& method,
                          const QList<QVariant>& arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(QString::fromLatin1(kService), object, interface, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, static_cast<int>(kAnswerWait.count()));
    };
    const auto cleanUp = [&] {
        (void)call(QStringLiteral("/Scripting"), QStringLiteral("org.kde.kwin.Scripting"),
                   QStringLiteral("unloadScript"), {name});
        QFile::remove(path);
    };
    const QDBusMessage loaded = call(QStringLiteral("/Scripting"), QStringLiteral("org.kde.kwin.Scripting"),
                                     QStringLiteral("loadScript"), {path, name});
    if (loaded.type() != QDBusMessage::ReplyMessage || loaded.arguments().isEmpty()) {
        QFile::remove(path);
        return Failure{"KWin did not load the script: " + loaded.errorMessage().toStdString()};
    }
    const int id = loaded.arguments().at(0).toInt();
    if (id < 0) {
        cleanUp();
        return Failure{"KWin refused the script"};
    }
    // Scripting.start runs every loaded script not yet running: ours, and maybe another client's
    // that is about to be run anyway. Running ours through its own object ("/ID" on Plasma 5,
    // "/Scripting/ScriptID" on Plasma 6) is not safe: KWin numbers scripts by their count, so a number
    // is given again once a script is unloaded, and the object of the same number may still be the
    // old script's (already run: the call does nothing) or another client's.
    const QDBusMessage started = call(QStringLiteral("/Scripting"), QStringLiteral("org.kde.kwin.Scripting"),
                                      QStringLiteral("start"), {});
    if (started.type() != QDBusMessage::ReplyMessage) {
        cleanUp();
        return Failure{"KWin did not run the script: " + started.errorMessage().toStdString()};
    }
    std::optional<std::pair<bool, std::string>> json;
    {
        std::unique_lock<std::mutex> lock(answers_->mutex);
        answers_->arrived.wait_for(lock, kAnswerWait, [&] { return answers_->byToken.count(token) != 0; });
        const auto answer = answers_->byToken.find(token);
        if (answer != answers_->byToken.end()) {
            json = std::move(answer->second);
            answers_->byToken.erase(answer);
        }
    }
    cleanUp();
    if (!json)
        return Failure{"KWin's script gave no answer within " + std::to_string(kAnswerWait.count()) + " ms"};
    if (json->first) return Failure{"KWin's script failed: " + json->second};
    return std::move(json->second);
}

}  // namespace quenlit::kde
