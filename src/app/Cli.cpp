#include "app/Cli.h"

#include "app/Commands.h"

#include "backends/linux/DesktopWorkspace.h"
#include "backends/linux/GnomeShellExtension.h"
#include "backends/linux/LinuxProcessInspector.h"
#include "backends/linux/LogSinks.h"
#include "backends/linux/PosixFileReader.h"
#include "backends/linux/PosixProcessRunner.h"
#include "backends/linux/ThreadScheduler.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "calculator/Calculator.h"
#include "launch/ProfileManager.h"
#include "launcher/AppIndex.h"
#include "launcher/Zoxide.h"
#include "panel/Version.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <span>

namespace quenlit::app {
namespace {

constexpr const char* kHelp =
    "usage: quenlit [--verbose] [COMMAND [ARGS...]]\n"
    "       quenlit [--backend x11|sway|kde|gnome]\n"
    "                                 run the desktop program (on X11, or on Wayland where the\n"
    "                                 compositor offers the wlroots protocols, as sway does)\n"
    "\n"
    "Quenlit is a keyboard-driven launcher and clipboard history for the desktop.\n"
    "\n"
    "Commands:\n"
    "  calc [--json] [--] TEXT...     evaluate TEXT as the launcher's calculator does\n"
    "  search [--json] [--] QUERY...  print the launcher's rows for QUERY, in order\n"
    "  profiles [--json]              list the detected Firefox profiles\n"
    "  history [--json] [--limit N] [QUERY...]\n"
    "                                 list the stored clipboard history (--stats: its size)\n"
    "  bindings check [FILE]          check an app-toggle bindings file\n"
    "  toggle launcher|clipboard      show or hide a panel of the running desktop program\n"
    "\n"
    "Options:\n"
    "  --verbose             write diagnostic log records to standard error\n"
    "  --install-autostart   start this program with your desktop session (writes\n"
    "                        $XDG_CONFIG_HOME/autostart/quenlit.desktop)\n"
    "  --install-gnome-extension\n"
    "                        install and enable Quenlit's GNOME Shell extension (in\n"
    "                        $XDG_DATA_HOME/gnome-shell/extensions), which lets it work with\n"
    "                        native windows on GNOME Wayland\n"
    "  --version             print the version\n"
    "  --help                print this help\n";

struct TextArguments {
    bool json = false;
    std::vector<std::string> words;
};

// Everything after the subcommand is text, apart from "--json" anywhere before a "--" (after which
// every word is text), so "quenlit calc -5", "quenlit calc --json -50%" and "quenlit search term
// --json" all work. Any other word that begins with "--" before that is refused: it would
// otherwise be searched for or calculated silently.
std::optional<TextArguments> textArguments(std::span<const std::string> args, std::string_view command,
                                           std::ostream& err) {
    TextArguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            parsed.words.insert(parsed.words.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                args.end());
            break;
        }
        if (a == "--json") {
            parsed.json = true;
        } else if (a.size() > 2 && a.starts_with("--")) {
            err << "quenlit: unknown option '" << a << "' for " << command
                << " (text that begins with \"--\" goes after \"--\"; see 'quenlit --help')\n";
            return std::nullopt;
        } else {
            parsed.words.push_back(a);
        }
    }
    return parsed;
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) {
        if (&w != &words.front()) out.push_back(' ');
        out += w;
    }
    return out;
}

// Names and paths come from file names and files, which need not be UTF-8: each ill-formed sequence
// is written as U+FFFD, so every line stays valid JSON.
void writeString(rapidjson::Writer<rapidjson::StringBuffer>& w, const std::string& s) {
    std::string valid;
    valid.reserve(s.size());
    for (char32_t c : text::decodeUtf8(s))
        text::appendUtf8(valid, c);
    w.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

int runCalc(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::optional<TextArguments> arguments = textArguments(args, "calc", err);
    if (!arguments) return 2;
    TextArguments& parsed = *arguments;
    if (parsed.words.empty()) {
        err << "usage: quenlit calc [--json] [--] TEXT...\n";
        return 2;
    }
    auto result = Calculator::evaluate(joined(parsed.words));
    if (!result) {
        err << "not a calculation\n";
        return 1;
    }
    if (!parsed.json) {
        out << result->display << '\n';
        return 0;
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("expression");
    writeString(w, result->expression);
    w.Key("display");
    writeString(w, result->display);
    w.Key("copyText");
    writeString(w, result->copyText);
    w.EndObject();
    out << buffer.GetString() << '\n';
    return 0;
}

// The machine as the launcher sees it from the command line: its desktop entries, Firefox
// profiles and processes, and no display (so nothing runs in front and no window exists).
struct Machine {
    explicit Machine(const WorkspaceFactory& desktop) {
        if (desktop) workspace = desktop();
        if (!workspace) workspace = std::make_shared<linux_backend::DesktopWorkspace>();
    }

    XdgDirs dirs = XdgDirs::current();
    std::shared_ptr<linux_backend::DesktopWorkspace> workspace;
    linux_backend::LinuxProcessInspector processes;
    linux_backend::PosixProcessRunner runner;
    linux_backend::PosixFileReader files;
    ProfileManager::Environment profiles{ProfileManager::firefoxSupportFolder(dirs), processes, files};

    AppIndex::Sources sources() {
        return {*workspace, [this] { return ProfileManager::detectFirefoxProfiles(profiles); },
                [this](const std::vector<FirefoxProfile>& found) {
                    return ProfileManager::detectRunningProfiles(found, profiles);
                }};
    }
};

// The zoxide lookup gives up after five seconds; waiting a little longer lets it report so.
constexpr platform::Seconds kZoxideWait{5.5};

std::vector<AppItem> launcherRows(const std::string& query, const WorkspaceFactory& desktop) {
    Machine machine(desktop);
    linux_backend::ThreadScheduler scheduler;
    AppIndex index(scheduler, machine.sources(), {machine.runner, machine.dirs.home});
    Connection lookupDone = index.zoxideItemChanged.connect([&] {
        if (index.zoxideKey()) scheduler.quit();
    });
    // The index starts its first scan from the queue; this check runs after that start.
    std::function<void()> whenIndexed = [&] {
        if (index.isIndexing()) {
            scheduler.postAfter(platform::Seconds(0.002), whenIndexed);
            return;
        }
        if (!Zoxide::keywords(query)) {
            scheduler.quit();
            return;
        }
        index.scheduleZoxide(query);
        scheduler.postAfter(kZoxideWait, [&] { scheduler.quit(); });
    };
    scheduler.post(whenIndexed);
    scheduler.run();
    return index.search(query);
}

int runSearch(std::span<const std::string> args, std::ostream& out, std::ostream& err,
              const WorkspaceFactory& desktop) {
    std::optional<TextArguments> arguments = textArguments(args, "search", err);
    if (!arguments) return 2;
    const TextArguments& parsed = *arguments;
    const auto rows = launcherRows(joined(parsed.words), desktop);
    for (const AppItem& row : rows) {
        if (!parsed.json) {
            out << row.name;
            if (auto secondary = row.secondaryText()) out << "  " << *secondary;
            out << '\n';
            continue;
        }
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
        w.StartObject();
        w.Key("id");
        writeString(w, row.id.toString());
        w.Key("name");
        writeString(w, row.name);
        w.Key("kind");
        writeString(w, std::string(row.kind.caseName()));
        w.Key("path");
        writeString(w, row.path);
        w.Key("secondary");
        if (auto secondary = row.secondaryText()) {
            writeString(w, *secondary);
        } else {
            w.Null();
        }
        w.Key("running");
        w.Bool(row.isRunning);
        w.EndObject();
        out << buffer.GetString() << '\n';
    }
    return 0;
}

int runProfiles(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    bool json = false;
    for (const auto& a : args) {
        if (a == "--json") {
            json = true;
        } else {
            err << "quenlit: unknown option '" << a << "' for profiles (see 'quenlit --help')\n";
            return 2;
        }
    }
    Machine machine({});
    std::string registryProblem;
    const auto profiles = ProfileManager::detectFirefoxProfiles(machine.profiles, &registryProblem);
    const auto running = ProfileManager::detectRunningProfiles(profiles, machine.profiles);
    for (const auto& profile : profiles) {
        const bool isRunning = running.count(profile.name) > 0;
        if (!json) {
            out << profile.name << "  " << profile.path.string();
            if (profile.isDefault) out << "  default";
            if (isRunning) out << "  running";
            out << '\n';
            continue;
        }
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
        w.StartObject();
        w.Key("name");
        writeString(w, profile.name);
        w.Key("path");
        writeString(w, profile.path.string());
        w.Key("isDefault");
        w.Bool(profile.isDefault);
        w.Key("running");
        w.Bool(isRunning);
        w.EndObject();
        out << buffer.GetString() << '\n';
    }
    // The profiles found without the registry are still listed; the failure is in the status.
    if (!registryProblem.empty()) {
        err << "quenlit: " << registryProblem << '\n';
        return 1;
    }
    return 0;
}

// Exec= takes one argument vector: a path with blanks or shell characters goes in double quotes,
// and the desktop-entry string rules then double every backslash once more.
std::optional<std::string> execField(const std::string& program) {
    if (program.find_first_of("\n\r") != std::string::npos) return std::nullopt;
    std::string quoted;
    const bool needsQuotes = program.find_first_of(" \t\"'\\><~|&;$*?#()`=") != std::string::npos;
    for (char c : program) {
        if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) quoted.push_back('\\');
        if (c == '%') quoted.push_back('%');
        quoted.push_back(c);
    }
    if (needsQuotes) quoted = '"' + quoted + '"';
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') escaped.push_back('\\');
        escaped.push_back(c);
    }
    return escaped;
}

// The entry names this very executable, so an installed program starts itself and a build folder
// starts its own build.
int installAutostart(std::ostream& out, std::ostream& err) {
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::optional<std::string> exec = ec ? std::nullopt : execField(program.string());
    if (!exec) {
        err << "quenlit: cannot tell where this program is installed\n";
        return 1;
    }
    // Desktop entries are UTF-8: GLib refuses the whole file when a value is not, and the session
    // would then start nothing.
    if (text::validUtf8(program.string()) != program.string()) {
        err << "quenlit: this program's path " << text::validUtf8(program.string())
            << " is not valid UTF-8, which a desktop entry cannot name; move the program to a folder whose "
               "name is UTF-8 and run this again\n";
        return 1;
    }
    const std::filesystem::path folder = XdgDirs::current().configHome / "autostart";
    const std::filesystem::path entry = folder / "quenlit.desktop";
    std::filesystem::create_directories(folder, ec);
    std::ofstream file(entry, std::ios::binary | std::ios::trunc);
    file << "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Quenlit\n"
            "Comment=Keyboard launcher and clipboard history\n"
            "Exec="
         << *exec
         << "\n"
            "Icon=quenlit\n"
            "X-GNOME-Autostart-enabled=true\n"
            "NoDisplay=true\n";
    file.close();
    if (!file) {
        err << "quenlit: cannot write " << entry.string() << '\n';
        return 1;
    }
    out << "wrote " << entry.string() << ": Quenlit starts with your next desktop session\n";
    return 0;
}

// Copies the extension that fits the installed GNOME into the user's extension folder and enables
// it. GNOME Shell finds a newly installed extension only when it starts: on Wayland, at the next
// login.
int installGnomeExtension(std::ostream& out, std::ostream& err) {
    namespace lb = linux_backend;
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto shipped = ec ? std::nullopt : lb::shippedGnomeExtension(program);
    if (!shipped) {
        err << "quenlit: the GNOME Shell extension is not installed beside this program "
               "(share/quenlit/gnome-shell)\n";
        return 1;
    }
    const auto major = lb::installedGnomeShellMajorVersion();
    if (!major) {
        err << "quenlit: GNOME Shell is not installed (gnome-shell --version gave no version)\n";
        return 1;
    }
    if (*major > lb::kNewestGnomeShell)
        err << "quenlit: GNOME Shell " << *major
            << " is newer than the newest release the extension was tried on (" << lb::kNewestGnomeShell
            << "); GNOME may refuse to load it\n";
    const auto written =
        lb::writeGnomeExtension(*shipped, XdgDirs::current().dataHome / "gnome-shell" / "extensions", *major);
    if (!written) {
        err << "quenlit: " << written.error().reason << '\n';
        return 1;
    }
    const auto enabled = lb::enableGnomeExtension();
    if (!enabled) {
        err << "quenlit: installed the extension in " << written.value().string()
            << " but could not enable it: " << enabled.error().reason << '\n';
        return 1;
    }
    out << "installed the GNOME Shell extension in " << written.value().string() << " and enabled it\n"
        << "GNOME Shell finds a newly installed extension only when it starts: log out and in again, then "
           "start "
           "Quenlit\n";
    if (!enabled.value().empty()) out << "note: " << enabled.value() << '\n';
    return 0;
}

}  // namespace

std::optional<DesktopRequest> desktopRequest(const std::vector<std::string>& args) {
    if (args.empty()) return DesktopRequest{};
    if (args.size() == 2 && args[0] == "--backend") {
        if (const auto backend = backendNamed(args[1])) return DesktopRequest{backend};
    }
    return std::nullopt;
}

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const WorkspaceFactory& desktop) {
    std::size_t i = 0;
    bool verbose = false;
    for (; i < args.size() && args[i].starts_with('-'); ++i) {
        const std::string& option = args[i];
        if (option == "--verbose") {
            verbose = true;
        } else if (option == "--version") {
            out << "quenlit " << AppVersion::string() << '\n';
            return 0;
        } else if (option == "--install-autostart") {
            return installAutostart(out, err);
        } else if (option == "--install-gnome-extension") {
            return installGnomeExtension(out, err);
        } else if (option == "--backend") {
            // Alone it runs the desktop program (main takes that path); here it is misused.
            if (i + 1 >= args.size() || !backendNamed(args[i + 1])) {
                err << "quenlit: --backend takes x11, sway, kde or gnome\n";
                return 2;
            }
            err << "quenlit: --backend is for the desktop program: run 'quenlit --backend " << args[i + 1]
                << "' alone\n";
            return 2;
        } else if (option == "--help" || option == "-h") {
            out << kHelp;
            return 0;
        } else {
            err << "quenlit: unknown option '" << option << "' (see 'quenlit --help')\n";
            return 2;
        }
    }
    // The log file belongs to the desktop program: subcommands log to standard error, and only
    // when asked to.
    log::installSinks(
        verbose ? std::vector<std::shared_ptr<log::Sink>>{std::make_shared<linux_backend::StderrLogSink>()}
                : std::vector<std::shared_ptr<log::Sink>>{});
    if (i == args.size()) {
        err << "quenlit: options need a command; run 'quenlit' alone for the desktop program (see 'quenlit "
               "--help')\n";
        return 2;
    }
    const std::string& command = args[i];
    std::span<const std::string> rest(args.data() + i + 1, args.size() - i - 1);
    if (command == "calc") return runCalc(rest, out, err);
    if (command == "search") return runSearch(rest, out, err, desktop);
    if (command == "profiles") return runProfiles(rest, out, err);
    if (command == "history") return runHistory(rest, out, err);
    if (command == "bindings") return runBindings(rest, out, err);
    if (command == "toggle") return runToggle(rest, out, err);
    err << "quenlit: unknown command '" << command << "' (see 'quenlit --help')\n";
    return 2;
}

}  // namespace quenlit::app
