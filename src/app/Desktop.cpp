#include "app/Desktop.h"

#include "app/BackendChoice.h"

#include "automation/HotKeyManager.h"
#include "backends/gnome/GnomeInput.h"
#include "backends/gnome/GnomePanelWindow.h"
#include "backends/gnome/GnomePasteboard.h"
#include "backends/gnome/GnomeWorkspace.h"
#include "backends/gnome/ShellExtension.h"
#include "backends/kde/FakeInputKeys.h"
#include "backends/kde/KGlobalAccelHotKeys.h"
#include "backends/kde/KWinScripting.h"
#include "backends/kde/KWinWindowControl.h"
#include "backends/kde/KWinWindows.h"
#include "backends/kde/KWinWorkspace.h"
#include "backends/kde/KdePanelWindow.h"
#include "backends/kde/KdeScreens.h"
#include "backends/linux/ControlSocket.h"
#include "backends/linux/DesktopColorScheme.h"
#include "backends/linux/DesktopWorkspace.h"
#include "backends/linux/FreedesktopNotifications.h"
#include "backends/linux/GnomeSettings.h"
#include "backends/linux/GnomeShellExtension.h"
#include "backends/linux/LibsecretStore.h"
#include "backends/linux/LinuxProcessInspector.h"
#include "backends/linux/LogSinks.h"
#include "backends/linux/OpenSslCipher.h"
#include "backends/linux/PasteKey.h"
#include "backends/linux/PosixAtomicFile.h"
#include "backends/linux/PosixFileReader.h"
#include "backends/linux/PosixProcessRunner.h"
#include "backends/linux/QtImageCodec.h"
#include "backends/linux/QtScheduler.h"
#include "backends/sway/SwayHotKeys.h"
#include "backends/sway/SwayIpc.h"
#include "backends/sway/SwayPanelWindow.h"
#include "backends/sway/SwayScreens.h"
#include "backends/sway/SwayWindowControl.h"
#include "backends/sway/SwayWorkspace.h"
#include "backends/wayland/DataControlPasteboard.h"
#include "backends/wayland/ForeignToplevelList.h"
#include "backends/wayland/VirtualKeyboardInput.h"
#include "backends/wayland/WaylandConnection.h"
#include "backends/x11/X11Connection.h"
#include "backends/x11/X11EventHub.h"
#include "backends/x11/X11HotKeys.h"
#include "backends/x11/X11KeyboardEvents.h"
#include "backends/x11/X11PanelWindow.h"
#include "backends/x11/X11Pasteboard.h"
#include "backends/x11/X11Screens.h"
#include "backends/x11/X11WindowControl.h"
#include "backends/x11/X11Workspace.h"
#include "backends/x11/XSettings.h"
#include "backends/x11/XTestInput.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "clipboard/ClipboardPanel.h"
#include "launcher/LauncherPanel.h"
#include "shell/AppDelegate.h"
#include "ui/ClipboardPanelView.h"
#include "ui/IconCache.h"
#include "ui/IconTheme.h"
#include "ui/LauncherView.h"
#include "ui/Style.h"

#include <QApplication>

#include <fontconfig/fontconfig.h>
#include <QFileInfo>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QStyleFactory>

#include <xcb/xcb.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>

namespace quenlit::app {
namespace {

int gSignalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    // Nothing else is safe in a signal handler: the event loop reads the byte and quits.
    [[maybe_unused]] auto n = ::write(gSignalPipe[1], &byte, 1);
}

// A second start shows the running instance's launcher, as clicking a running program's icon
// would. The instance that holds the lock may still be starting: its channel opens shortly after.
int showRunningInstance(const std::filesystem::path& socket, long owner) {
    namespace control = linux_backend::control;
    control::Outcome outcome;
    for (int attempt = 0; attempt < 40; ++attempt) {
        outcome = control::send(socket, control::Request::showLauncher);
        if (outcome.kind != control::Outcome::Kind::notRunning) break;
        ::usleep(50000);
    }
    if (outcome.kind == control::Outcome::Kind::answered && outcome.text == "ok") return 0;
    std::cerr << "quenlit is already running (pid " << owner << ")";
    if (outcome.kind == control::Outcome::Kind::failed) {
        std::cerr << "; could not show its launcher: " << outcome.text;
    } else if (outcome.kind == control::Outcome::Kind::answered) {
        const auto refusal = control::knownRefusal(outcome.text);
        std::cerr << "; could not show its launcher: "
                  << (refusal ? std::string(*refusal)
                              : std::string("it gave an answer this version does not know"));
    }
    std::cerr << "\n";
    return 1;
}

bool displayAvailable() {
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    const bool ok = c != nullptr && xcb_connection_has_error(c) == 0;
    if (c != nullptr) xcb_disconnect(c);
    return ok;
}

// The icon theme as the user's desktop names it: its X settings daemon first (where there is an X
// display), then GNOME's and KDE's settings, else the first common theme installed.
QString gIconTheme;         // the desktop's icon theme, whose dark variant a dark scheme takes
QString gAppliedIconTheme;  // the one in use: it or its dark variant

void useDesktopIconTheme(const XdgDirs& dirs, x11::X11Connection* connection) {
    const QStringList searchPaths = ui::defaultIconSearchPaths();
    std::vector<ui::IconThemeSource> sources;
    if (connection != nullptr)
        sources.push_back({"XSETTINGS", [connection] {
                               return x11::readXSettingsString(*connection, "Net/IconThemeName").value_or("");
                           }});
    sources.push_back(
        {"GNOME", [] { return linux_backend::gnomeInterfaceSetting("icon-theme").value_or(""); }});
    sources.push_back({"KDE", [&] {
                           return ui::kdeIconTheme(
                               QString::fromStdString((dirs.configHome / "kdeglobals").string()));
                       }});
    const ui::IconThemeChoice theme = ui::chooseIconTheme(sources, searchPaths);
    gIconTheme = theme.name;
    gAppliedIconTheme = theme.name;
    ui::useIconTheme(theme.name, searchPaths, ui::defaultPixmapFolders());
    log::write("icons: theme " + theme.name.toStdString() + " (" + theme.source + ")");
}

// The dark variant of the icon theme where one is installed beside it (breeze-dark, Papirus-Dark,
// Yaru-dark), for a dark scheme; the theme itself otherwise.
void useIconThemeFor(bool dark) {
    if (gIconTheme.isEmpty()) return;
    const QStringList searchPaths = ui::defaultIconSearchPaths();
    QString theme = gIconTheme;
    if (dark) {
        for (const QString& variant : {gIconTheme + "-dark", gIconTheme + "-Dark"}) {
            const bool installed =
                std::any_of(searchPaths.begin(), searchPaths.end(), [&](const QString& path) {
                    return QFileInfo::exists(path + "/" + variant + "/index.theme");
                });
            if (installed) {
                theme = variant;
                break;
            }
        }
    }
    if (theme == gAppliedIconTheme) return;
    gAppliedIconTheme = theme;
    ui::useIconTheme(theme, searchPaths, ui::defaultPixmapFolders());
    log::write("icons: theme " + theme.toStdString() + " (" + (dark ? "dark" : "light") + " scheme)");
}

// The panels follow the desktop's light or dark scheme, now and whenever it changes.
std::unique_ptr<linux_backend::DesktopColorScheme> followDesktopColorScheme(
    std::optional<std::string> xsettingsTheme) {
    auto apply = [](bool dark) {
        ui::style::setScheme(dark ? ui::style::Scheme::dark : ui::style::Scheme::light);
        useIconThemeFor(dark);
        log::write(std::string("appearance: ") + (dark ? "dark" : "light"));
    };
    auto scheme = std::make_unique<linux_backend::DesktopColorScheme>(std::move(xsettingsTheme), apply);
    apply(scheme->dark());
    return scheme;
}

std::string answerControlRequest(AppDelegate& delegate, linux_backend::control::Request request) {
    using Request = linux_backend::control::Request;
    namespace control = linux_backend::control;
    const auto refused = [](std::string_view why) { return "error: " + std::string(why); };
    if (delegate.panel() == nullptr) return refused(control::kLauncherNotReady);
    switch (request) {
        case Request::showLauncher:
            if (!delegate.panel()->isVisible()) delegate.togglePanel();
            return "ok";
        case Request::toggleLauncher:
            delegate.togglePanel();
            return "ok";
        case Request::toggleClipboard:
            if (delegate.clipboardPanel() == nullptr) return refused(control::kClipboardNotReady);
            delegate.toggleClipboardPanel();
            return "ok";
    }
    return refused(control::kMalformed);
}

// The paste key of a terminal started under a name of its own is still the terminal's.
bool isTerminalInFront(platform::Workspace& workspace) {
    const auto front = workspace.frontmostApplication();
    return front && front->bundlePath && linux_backend::isTerminalEmulatorEntry(*front->bundlePath);
}

}  // namespace

std::shared_ptr<linux_backend::DesktopWorkspace> displayWorkspace() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return nullptr;
    // The connection lives as long as the workspace that reads through it.
    struct Holder {
        explicit Holder(xcb_connection_t* c, int screen)
            : raw(c), connection(c, screen), workspace(connection) {}
        ~Holder() { xcb_disconnect(raw); }
        Holder(const Holder&) = delete;
        Holder& operator=(const Holder&) = delete;
        xcb_connection_t* raw;
        x11::X11Connection connection;
        x11::X11Workspace workspace;
    };
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    if (c == nullptr || xcb_connection_has_error(c) != 0) {
        if (c != nullptr) xcb_disconnect(c);
        return nullptr;
    }
    auto holder = std::make_shared<Holder>(c, screen);
    return std::shared_ptr<linux_backend::DesktopWorkspace>(holder, &holder->workspace);
}

namespace {

// The services every Linux backend shares, made once Qt runs and before the backend's own.
// What each desktop backend makes of its own.
struct DesktopOwn {
    platform::Scheduler& scheduler;
    platform::Workspace& workspace;
    platform::WindowControl& windowControl;
    platform::Screens& screens;
    platform::InputSynthesizer& input;
    platform::KeyboardEvents* keyboard;
    platform::HotKeys& hotKeys;
    platform::Pasteboard& pasteboard;
    platform::PanelWindowFactory& windows;
};

struct LinuxServices {
    linux_backend::QtImageCodec imageCodec;
    linux_backend::LibsecretStore secrets;
    linux_backend::OpenSslCipher cipher;
    linux_backend::PosixAtomicFile files;
    linux_backend::PosixProcessRunner processes;
    linux_backend::LinuxProcessInspector processInspector;
    linux_backend::FreedesktopNotifications notifications;
    linux_backend::PosixFileReader fileReader;

    // A desktop's services: its own, and these, which every Linux desktop shares.
    platform::DesktopServices with(const DesktopOwn& own) {
        return {.scheduler = own.scheduler,
                .workspace = own.workspace,
                .windowControl = own.windowControl,
                .screens = own.screens,
                .input = own.input,
                .keyboard = own.keyboard,
                .hotKeys = own.hotKeys,
                .pasteboard = own.pasteboard,
                .windows = own.windows,
                .imageCodec = imageCodec,
                .secretStore = secrets,
                .files = files,
                .processes = processes,
                .processInspector = processInspector,
                .fileReader = fileReader,
                .notifications = &notifications,
                .cipher = &cipher};
    }
};

// What a desktop backend hands the shared start-up: its services, and the Qt widget each of its
// panel windows draws into.
struct DesktopRun {
    platform::DesktopServices services;
    // The host widget of a panel window the factory made, and how to put the content into it.
    std::function<QWidget*(platform::PanelWindow&)> hostOf = {};
    std::function<void(platform::PanelWindow&, QWidget*)> setContent = {};
    // Without a way to watch other programs' copies the history stays off.
    bool clipboard = true;
    // Waits for the thread pool: its work reads services destroyed after the delegate.
    std::function<void()> waitForBackgroundWork = {};
    // The GTK theme an XSETTINGS manager names, where one runs.
    std::optional<std::string> xsettingsTheme = {};
};

// Lets the interface draw into the panel windows `windows` made.
template <class Factory>
void drawInto(DesktopRun& backend, Factory& windows) {
    const auto ours = [&windows](platform::PanelWindow& window) {
        for (auto* made : windows.created)
            if (made == &window) return made;
        return static_cast<std::remove_reference_t<decltype(*windows.created.front())>*>(nullptr);
    };
    backend.hostOf = [ours](platform::PanelWindow& window) -> QWidget* {
        auto* made = ours(window);
        return made != nullptr ? made->host() : nullptr;
    };
    backend.setContent = [ours](platform::PanelWindow& window, QWidget* content) {
        if (auto* made = ours(window)) made->setContent(content);
    };
}

// The part of the desktop program every backend shares: the core, the panels' views, the control
// channel and the event loop. Returns the exit status.
int runComposed(DesktopRun& backend, const XdgDirs& dirs, const std::filesystem::path& controlSocket) {
    AppDelegate::Configuration configuration;
    configuration.bindings =
        AppToggleMonitor::Files::forUser(dirs, [](const char* n) { return std::getenv(n); });
    configuration.firefoxSupportFolder = ProfileManager::firefoxSupportFolder(dirs);
    configuration.home = dirs.home;
    configuration.quit = [] { QApplication::quit(); };
    configuration.clipboard = backend.clipboard;

    AppDelegate delegate(backend.services, std::move(configuration));

    const auto colorScheme = followDesktopColorScheme(backend.xsettingsTheme);
    // The launcher's first picture needs the icon theme: its indexes are read while the rest is set up.
    ui::readIconThemeAhead();
    ui::IconCache icons;
    Connection focusClipboardSearch;
    Connection createClipboardView;
    Connection drawPanels = delegate.didCreatePanels.connect([&] {
        if (LauncherPanel* launcher = delegate.panel()) {
            if (QWidget* host = backend.hostOf(launcher->window())) {
                auto* view = new ui::LauncherView(launcher->contentView(), icons, host);
                backend.setContent(launcher->window(), view);
                view->searchField()->setFocus();
            }
        }
        ClipboardPanel* clipboard = delegate.clipboardPanel();
        if (clipboard == nullptr) return;
        QWidget* host = backend.hostOf(clipboard->window());
        if (host == nullptr) return;
        // Made when the panel first shows: its widgets and the preview's monospaced font cost
        // memory that a session without a look at the history never needs.
        createClipboardView = delegate.notifications().observe(
            Notification::clipboardWillShow, [&focusClipboardSearch, &backend, clipboard, host] {
                if (focusClipboardSearch.connected()) return;
                auto* view =
                    new ui::ClipboardPanelView(clipboard->clipboardView(), clipboard->menuModel(), host);
                backend.setContent(clipboard->window(), view);
                view->focusSearchField();
                focusClipboardSearch =
                    clipboard->focusSearchFieldRequested.connect([view] { view->focusSearchField(); });
            });
    });

    // SIGTERM and SIGINT end the event loop; the teardown below then runs in order.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) == 0) {
        auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, qApp);
        QObject::connect(notifier, &QSocketNotifier::activated, [] { QApplication::quit(); });
        struct sigaction action {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
    }

    // `quenlit toggle …` and a second `quenlit` reach this instance here, once its panels exist.
    std::unique_ptr<linux_backend::control::Server> control;
    backend.services.scheduler.post([&] {
        delegate.applicationDidFinishLaunching();
        auto listening = linux_backend::control::Server::listen(
            controlSocket,
            [&](linux_backend::control::Request request) { return answerControlRequest(delegate, request); });
        if (!listening) {
            log::write("control: " + listening.error().reason +
                       "; `quenlit toggle` cannot reach this instance");
            return;
        }
        control = std::move(listening.value());
        auto* notifier = new QSocketNotifier(control->descriptor(), QSocketNotifier::Read, qApp);
        QObject::connect(notifier, &QSocketNotifier::activated, [&control] { control->serve(); });
    });
    const int status = QApplication::exec();
    delegate.applicationWillTerminate();
    // A catalogue scan or a zoxide lookup may still run on the thread pool: it reads the workspace
    // and the process table, which are destroyed after the delegate.
    backend.waitForBackgroundWork();
    return status;
}

// The programs Quenlit starts get the toolkit platform it was given (or none), not the one it
// forces on its own Qt.
linux_backend::DesktopWorkspace::EnvironmentChanges forceQtPlatform(const char* platformName) {
    const char* given = std::getenv("QT_QPA_PLATFORM");
    linux_backend::DesktopWorkspace::EnvironmentChanges changes{
        {"QT_QPA_PLATFORM", given != nullptr ? std::optional<std::string>(given) : std::nullopt}};
    ::setenv("QT_QPA_PLATFORM", platformName, 1);
    return changes;
}

// Qt's previous message handler, for the messages the Wayland start-up does not drop.
QtMessageHandler gQtMessages = nullptr;

void dropBufferIntegrationNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("client buffer integration"))) return;
    if (gQtMessages != nullptr) gQtMessages(type, context, message);
}

// Qt on Wayland, drawing its windows in shared memory only. The panels are painted by the CPU
// anyway; Qt's GPU buffer integration would load the GPU driver (some 50 MB resident, with a
// software renderer) for nothing. Naming an integration that does not exist leaves Qt without one;
// the two warnings that says are dropped. The programs Quenlit starts get the values it was given.
linux_backend::DesktopWorkspace::EnvironmentChanges forceQtOnWayland() {
    auto changes = forceQtPlatform("wayland");
    const char* given = std::getenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION");
    changes["QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"] =
        given != nullptr ? std::optional<std::string>(given) : std::nullopt;
    if (given == nullptr) {
        ::setenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION", "none", 1);
        gQtMessages = qInstallMessageHandler(dropBufferIntegrationNotes);
    }
    return changes;
}

void setUpQt() {
    QApplication::setApplicationName("quenlit");
    QApplication::setQuitOnLastWindowClosed(false);
    if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
}

int runX11Desktop(int argc, char** argv, const XdgDirs& dirs, const std::filesystem::path& controlSocket,
                  linux_backend::DesktopWorkspace::EnvironmentChanges childEnvironment) {
    const char* display = std::getenv("DISPLAY");
    QApplication application(argc, argv);
    setUpQt();

    auto connection = x11::X11Connection::fromQt();
    if (!connection) {
        std::cerr << "quenlit: the desktop program needs an X11 display (Qt did not start on X11)\n";
        return 2;
    }
    useDesktopIconTheme(dirs, &*connection);
    x11::X11EventHub events;
    linux_backend::QtScheduler scheduler;
    x11::X11Workspace workspace(*connection, events);
    workspace.setChildEnvironment(std::move(childEnvironment));
    x11::X11WindowControl windowControl(*connection);
    x11::X11Screens screens(*connection);
    auto ownKeys = std::make_shared<x11::SyntheticKeyLog>();
    x11::XTestInput input(*connection, ownKeys);
    x11::X11KeyboardEvents keyboard({ownKeys});
    x11::X11HotKeys hotKeys(*connection, events);
    x11::X11Pasteboard pasteboard(x11::SelectionReader::open(display, "CLIPBOARD"));
    // xterm and URxvt paste the PRIMARY selection: a paste there offers the entry as PRIMARY too.
    input.publishPrimary = [&pasteboard] { return pasteboard.mirrorToPrimary(); };
    input.frontIsTerminal = [&workspace] { return isTerminalInFront(workspace); };
    x11::X11PanelWindowFactory windows(*connection, events, &hotKeys,
                                       [&screens] { return screens.primaryHeight(); });

    LinuxServices shared;
    DesktopRun backend{.services = shared.with({.scheduler = scheduler,
                                                .workspace = workspace,
                                                .windowControl = windowControl,
                                                .screens = screens,
                                                .input = input,
                                                .keyboard = &keyboard,
                                                .hotKeys = hotKeys,
                                                .pasteboard = pasteboard,
                                                .windows = windows})};
    drawInto(backend, windows);
    backend.xsettingsTheme = x11::readXSettingsString(*connection, "Net/ThemeName");
    backend.clipboard = pasteboard.canRead();
    if (!backend.clipboard)
        log::write("clipboard: the X server cannot report clipboard changes (no XFixes) — history off");
    backend.waitForBackgroundWork = [&scheduler] { scheduler.waitForBackgroundWork(); };
    return runComposed(backend, dirs, controlSocket);
}

int runSwayDesktop(int argc, char** argv, const XdgDirs& dirs, const std::filesystem::path& controlSocket,
                   linux_backend::DesktopWorkspace::EnvironmentChanges childEnvironment) {
    auto sway = sway::SwayIpc::connect();
    if (!sway) {
        std::cerr << "quenlit: cannot reach sway: " << sway.error().reason << "\n";
        return 2;
    }
    sway::SwayIpc& ipc = *sway.value();
    QApplication application(argc, argv);
    setUpQt();
    // The app id of every window: the rule that floats the panels finds them by it.
    QGuiApplication::setDesktopFileName(sway::SwayPanelWindowFactory::kAppId);
    auto connection = wayland::WaylandConnection::connect();
    if (!connection) {
        std::cerr << "quenlit: the Wayland compositor did not answer\n";
        return 2;
    }
    useDesktopIconTheme(dirs, nullptr);
    log::write("desktop: Wayland (sway)");
    log::write(
        "wayland: the text expander and the app toggles are off — Wayland lets no program see the keys typed "
        "into "
        "other programs");

    linux_backend::QtScheduler scheduler;
    wayland::ForeignToplevelList toplevels(*connection);
    sway::SwayWorkspace workspace(toplevels, &ipc);
    workspace.setChildEnvironment(std::move(childEnvironment));
    sway::SwayWindowControl windowControl(ipc);
    sway::SwayScreens screens(ipc);
    wayland::VirtualKeyboardInput input(*connection);
    // The paste key is the window's own: Control+Shift+V in terminals.
    input.focusedAppId = [&ipc] {
        const auto focused = ipc.focusedWindow();
        return focused ? focused->appId : std::string();
    };
    input.focusedIsTerminal = [&workspace] { return isTerminalInFront(workspace); };
    sway::SwayHotKeys hotKeys(ipc, {{HotKeyManager::kLauncherHotKeyId, "toggle launcher"},
                                    {HotKeyManager::kClipboardHotKeyId, "toggle clipboard"}});
    wayland::DataControlPasteboard pasteboard(*connection);
    input.publishPrimary = [&pasteboard] { return pasteboard.mirrorToPrimary(); };
    sway::SwayPanelWindowFactory windows(ipc, [&screens] {
        const auto primary = screens.mainScreen();
        return primary ? primary->frame.height : 0.0;
    });

    LinuxServices shared;
    DesktopRun backend{.services = shared.with({.scheduler = scheduler,
                                                .workspace = workspace,
                                                .windowControl = windowControl,
                                                .screens = screens,
                                                .input = input,
                                                .keyboard = nullptr,
                                                .hotKeys = hotKeys,
                                                .pasteboard = pasteboard,
                                                .windows = windows})};
    drawInto(backend, windows);
    backend.clipboard = pasteboard.canRead();
    backend.waitForBackgroundWork = [&scheduler] { scheduler.waitForBackgroundWork(); };
    return runComposed(backend, dirs, controlSocket);
}

// KDE Plasma on Wayland: kglobalaccel for the hotkeys, KWin's scripting for the windows and the
// panels' placement and focus, its fake input for paste-back, data-control for the clipboard.
int runKdeDesktop(int argc, char** argv, const XdgDirs& dirs, const std::filesystem::path& controlSocket,
                  linux_backend::DesktopWorkspace::EnvironmentChanges childEnvironment) {
    QApplication application(argc, argv);
    setUpQt();
    // The app id of every window, which KWin matches to Quenlit's desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("quenlit"));
    auto connection = wayland::WaylandConnection::connect();
    if (!connection) {
        std::cerr << "quenlit: the Wayland compositor did not answer\n";
        return 2;
    }
    auto scripting = kde::KWinScripting::connect();
    if (!scripting) {
        std::cerr << "quenlit: cannot reach KWin: " << scripting.error().reason << "\n";
        return 2;
    }
    useDesktopIconTheme(dirs, nullptr);
    log::write("desktop: Wayland (KDE Plasma)");
    log::write(
        "wayland: the text expander and the app toggles are off — Wayland lets no program see the keys typed "
        "into other programs");

    linux_backend::QtScheduler scheduler;
    kde::KWinWindows kwinWindows(**scripting);
    kde::KWinWorkspace workspace(kwinWindows);
    workspace.setChildEnvironment(std::move(childEnvironment));
    kde::KWinWindowControl windowControl(kwinWindows);
    kde::KdeScreens screens([&kwinWindows]() -> std::optional<platform::Rect> {
        if (auto all = kwinWindows.list()) {
            for (const auto& w : *all)
                if (w.active && w.processIdentifier != ::getpid()) return w.frame;
        }
        return std::nullopt;
    });
    kde::FakeInputKeys input(*connection);
    if (!input.available())
        log::write(
            "paste: KWin offers no fake input to this program — install Quenlit's desktop entry (its "
            "X-KDE-Wayland-Interfaces lets KWin grant it); a chosen entry is copied, not pasted");
    input.focusedClass = [&kwinWindows] {
        std::pair<std::string, std::string> names;
        if (auto all = kwinWindows.list()) {
            for (const auto& w : *all)
                if (w.active) names = {w.resourceName, w.resourceClass};
        }
        return names;
    };
    input.focusedIsTerminal = [&workspace] { return isTerminalInFront(workspace); };
    kde::KGlobalAccelHotKeys hotKeys(
        {{HotKeyManager::kLauncherHotKeyId, {"launcher", "Show the launcher"}},
         {HotKeyManager::kClipboardHotKeyId, {"clipboard", "Show the clipboard history"}}});
    wayland::DataControlPasteboard pasteboard(*connection);
    input.publishPrimary = [&pasteboard] { return pasteboard.mirrorToPrimary(); };
    const auto primary = screens.mainScreen();
    // Read as the panel shows, right after the core asked which window is in front: the same list.
    kde::KdePanelWindowFactory windows(**scripting, primary ? primary->frame.height : 0, [&kwinWindows] {
        if (auto all = kwinWindows.list()) {
            for (const auto& w : *all)
                if (w.active && w.processIdentifier != ::getpid()) return w.uuid;
        }
        return std::string();
    });

    LinuxServices shared;
    DesktopRun backend{.services = shared.with({.scheduler = scheduler,
                                                .workspace = workspace,
                                                .windowControl = windowControl,
                                                .screens = screens,
                                                .input = input,
                                                .keyboard = nullptr,
                                                .hotKeys = hotKeys,
                                                .pasteboard = pasteboard,
                                                .windows = windows})};
    drawInto(backend, windows);
    backend.clipboard = pasteboard.canRead();
    if (!backend.clipboard)
        log::write("clipboard: KWin offers no data control — the history misses what other programs copy");
    else
        log::write(std::string("clipboard: through ") +
                   (connection->dataControlIsExt() ? "ext-data-control-v1" : "wlr-data-control"));
    backend.waitForBackgroundWork = [&scheduler] { scheduler.waitForBackgroundWork(); };
    return runComposed(backend, dirs, controlSocket);
}

// GNOME on Wayland, through Quenlit's own Shell extension: the hotkeys, the windows, the clipboard,
// paste-back and the panels' placement and focus all go through it; Qt draws the panels as native
// Wayland windows.
int runGnomeDesktop(int argc, char** argv, const XdgDirs& dirs, const std::filesystem::path& controlSocket,
                    linux_backend::DesktopWorkspace::EnvironmentChanges childEnvironment) {
    QApplication application(argc, argv);
    setUpQt();
    auto connected = gnome::ShellExtension::connect();
    if (!connected) {
        std::cerr
            << "quenlit: " << connected.error().reason
            << " (install and enable it with `quenlit --install-gnome-extension`, then log out and in)\n";
        return 2;
    }
    gnome::ShellExtension& shell = *connected.value();
    useDesktopIconTheme(dirs, nullptr);
    log::write("desktop: Wayland (GNOME Shell, through Quenlit's extension)");
    log::write(
        "wayland: the text expander and the app toggles are off — Wayland lets no program see the keys typed "
        "into other programs");

    linux_backend::QtScheduler scheduler;
    gnome::GnomeWorkspace workspace(shell);
    workspace.setChildEnvironment(std::move(childEnvironment));
    gnome::GnomeWindowControl windowControl(shell);
    gnome::GnomeScreens screens(shell);
    gnome::GnomeInput input(shell);
    gnome::GnomePasteboard pasteboard(shell);
    // The paste key is the window's own: Control+Shift+V in terminals, Shift+Insert in xterm and URxvt
    // once the entry is their primary selection too.
    input.frontPasteKey = [&shell, &workspace, &pasteboard] {
        if (auto windows = shell.windows()) {
            for (const gnome::ShellWindow& w : windows.value()) {
                if (w.pid == workspace.ownProcessIdentifier() || !w.ordinary) continue;
                const auto key = linux_backend::pasteKeyForClass(w.wmClass, w.wmClass);
                if (key == linux_backend::PasteKey::shiftInsert)
                    return pasteboard.mirrorToPrimary() ? key : linux_backend::PasteKey::controlV;
                if (key == linux_backend::PasteKey::controlShiftV) return key;
                break;
            }
        }
        return isTerminalInFront(workspace) ? linux_backend::PasteKey::controlShiftV
                                            : linux_backend::PasteKey::controlV;
    };
    gnome::GnomeHotKeys hotKeys(shell);
    const auto primary = screens.mainScreen();
    gnome::GnomePanelWindowFactory windows(shell, primary ? primary->frame.height : 0);

    LinuxServices shared;
    DesktopRun backend{.services = shared.with({.scheduler = scheduler,
                                                .workspace = workspace,
                                                .windowControl = windowControl,
                                                .screens = screens,
                                                .input = input,
                                                .keyboard = nullptr,
                                                .hotKeys = hotKeys,
                                                .pasteboard = pasteboard,
                                                .windows = windows})};
    drawInto(backend, windows);
    backend.waitForBackgroundWork = [&scheduler] { scheduler.waitForBackgroundWork(); };
    return runComposed(backend, dirs, controlSocket);
}

}  // namespace

// Fontconfig reads its configuration and font caches (several milliseconds) the first time text is
// laid out. Read on a second core while Qt connects to the display, it is ready by the time the
// launcher's field is made; Qt asking meanwhile is safe, fontconfig keeps one configuration.
class FontConfigurationReader {
  public:
    FontConfigurationReader() : reading_([] { FcInit(); }) {}
    ~FontConfigurationReader() { reading_.join(); }
    FontConfigurationReader(const FontConfigurationReader&) = delete;
    FontConfigurationReader& operator=(const FontConfigurationReader&) = delete;

  private:
    std::thread reading_;
};

int runDesktop(int argc, char** argv, const DesktopRequest& request) {
    Session session;
    const char* x11Display = std::getenv("DISPLAY");
    session.x11Display = x11Display != nullptr && *x11Display != '\0' && displayAvailable();
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    std::string waylandProblem;  // a compositor that did not answer, for the log
    if (waylandDisplay != nullptr && *waylandDisplay != '\0') {
        if (const auto globals = wayland::WaylandConnection::probe({}, wayland::WaylandConnection::kProbeWait,
                                                                   &waylandProblem)) {
            session.waylandDisplay = true;
            session.dataControl = globals->dataControl != 0 || globals->extDataControl != 0;
            session.virtualKeyboard = globals->virtualKeyboard != 0;
        }
        const char* swaySocket = std::getenv("SWAYSOCK");
        session.swaySocket = swaySocket != nullptr && *swaySocket != '\0';
        const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
        session.desktop = desktop != nullptr ? desktop : "";
        if (session.desktop.find("GNOME") != std::string::npos)
            session.gnomeExtension = linux_backend::gnomeExtensionRunning("io.github.quenlit.Shell1");
    }
    const BackendChoice choice = chooseBackend(request.backend, session);
    if (!choice.backend) {
        std::cerr << choice.message << "\n";
        return 2;
    }
    namespace control = linux_backend::control;
    const XdgDirs dirs = XdgDirs::current();
    const std::string name = sessionName(std::getenv("WAYLAND_DISPLAY"), x11Display, dirs.runtimeDir);
    // The lock and the socket live where no other user can plant or replace them.
    const auto folder = control::instanceFolder(dirs);
    if (!folder) {
        std::cerr << "quenlit: " << folder.error().reason
                  << "; not starting (remove it, or set XDG_RUNTIME_DIR "
                  << "to a folder of your own with mode 0700)\n";
        return 1;
    }
    auto lock = control::InstanceLock::open(control::instanceFile(folder.value(), name, ".lock"));
    if (!lock) {
        std::cerr << "quenlit: " << lock.error().reason << "; not starting\n";
        return 1;
    }
    const std::filesystem::path socket = control::socketPath(folder.value(), name);
    long owner = 0;
    if (!lock.value()->acquire(owner)) return showRunningInstance(socket, owner);

    log::installSinks({std::make_shared<linux_backend::FileLogSink>(dirs.logFile()),
                       std::make_shared<linux_backend::StderrLogSink>(),
                       std::make_shared<linux_backend::SyslogSink>()});
    if (!waylandProblem.empty()) log::write("wayland: " + waylandProblem + " — going on without it");
    if (!choice.message.empty()) log::write(choice.message);
    const FontConfigurationReader fonts;
    switch (*choice.backend) {
        case Backend::sway:
            return runSwayDesktop(argc, argv, dirs, socket, forceQtOnWayland());
        case Backend::x11:
            break;
        case Backend::gnome:
            return runGnomeDesktop(argc, argv, dirs, socket, forceQtOnWayland());
        case Backend::kde:
            return runKdeDesktop(argc, argv, dirs, socket, forceQtOnWayland());
    }
    return runX11Desktop(argc, argv, dirs, socket, forceQtPlatform("xcb"));
}

}  // namespace quenlit::app
