#include "backends/linux/DesktopWorkspace.h"

#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>
#include <utility>

namespace quenlit::linux_backend {
namespace {

template <typename T>
struct GObjectDeleter {
    void operator()(T* p) const {
        if (p != nullptr) g_object_unref(p);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter<T>>;

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
using GText = std::unique_ptr<char, GFreeDeleter>;

std::string withoutDesktopSuffix(std::string id) {
    constexpr std::string_view suffix = ".desktop";
    if (id.size() > suffix.size() && id.compare(id.size() - suffix.size(), suffix.size(), suffix) == 0) {
        id.resize(id.size() - suffix.size());
    }
    return id;
}

// Names longer than this are cut: no real application has one, and the launcher folds and collates
// every name on each scan, which for a name of megabytes takes seconds.
constexpr std::size_t kMaxNameBytes = 1024;
// A desktop file is a few kilobytes, translations and all; a larger one is not read at all.
constexpr long long kMaxDesktopFileSize = 4 * 1024 * 1024;

// At most `limit` bytes, cut before a UTF-8 sequence rather than inside one.
std::string bounded(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
    return text;
}

bool isInside(const std::filesystem::path& path, const std::filesystem::path& tree) {
    auto [treeEnd, pathEnd] = std::mismatch(tree.begin(), tree.end(), path.begin(), path.end());
    (void)pathEnd;
    return treeEnd == tree.end();
}

struct GKeyFileDeleter {
    void operator()(GKeyFile* p) const { g_key_file_free(p); }
};
using GKeyFilePtr = std::unique_ptr<GKeyFile, GKeyFileDeleter>;

struct GStrvDeleter {
    void operator()(char** p) const { g_strfreev(p); }
};
using GStrvPtr = std::unique_ptr<char*, GStrvDeleter>;

constexpr const char* kEntryGroup = "Desktop Entry";

std::optional<std::string> entryString(GKeyFile* file, const char* key) {
    GText value(g_key_file_get_string(file, kEntryGroup, key, nullptr));
    if (!value) return std::nullopt;
    return std::string(value.get());
}

bool isProgramFound(const char* program) {
    return GText(g_find_program_in_path(program)) != nullptr;
}

bool listContains(char** list, std::string_view value) {
    for (char** item = list; item != nullptr && *item != nullptr; ++item) {
        if (value == *item) return true;
    }
    return false;
}

// OnlyShowIn and NotShowIn against the desktops of $XDG_CURRENT_DESKTOP, the first named desktop
// that either list mentions deciding.
bool isShownInCurrentDesktop(GKeyFile* file) {
    GStrvPtr only(g_key_file_get_string_list(file, kEntryGroup, "OnlyShowIn", nullptr, nullptr));
    GStrvPtr notIn(g_key_file_get_string_list(file, kEntryGroup, "NotShowIn", nullptr, nullptr));
    const char* current = g_getenv("XDG_CURRENT_DESKTOP");
    std::string_view desktops = current != nullptr ? current : "";
    while (!desktops.empty()) {
        const std::size_t colon = desktops.find(':');
        const std::string_view desktop = desktops.substr(0, colon);
        if (!desktop.empty() && listContains(only.get(), desktop)) return true;
        if (!desktop.empty() && listContains(notIn.get(), desktop)) return false;
        desktops = colon == std::string_view::npos ? std::string_view() : desktops.substr(colon + 1);
    }
    return only == nullptr;
}

// A desktop file read by the desktop-entry rules. This reads the file with GLib's key-file parser
// rather than as a GDesktopAppInfo: making any GDesktopAppInfo has GIO index every applications
// folder first, by a walk of its own that follows links without end (two links to "." fill the
// memory). GIO's rules are kept: the first group is the entry, the type an application, and the
// TryExec and Exec programs exist.
struct DesktopEntry {
    platform::InstalledApplication app;
    bool shown = false;  // neither NoDisplay nor excluded by OnlyShowIn or NotShowIn
};

// Absent for a file that is no usable application entry, and for a Hidden one (it counts as
// deleted).
std::optional<DesktopEntry> readDesktopEntry(const std::string& path, const std::string& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxDesktopFileSize) {
        return std::nullopt;
    }
    GKeyFilePtr file(g_key_file_new());
    if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, nullptr)) return std::nullopt;
    GText start(g_key_file_get_start_group(file.get()));
    if (!start || std::strcmp(start.get(), kEntryGroup) != 0) return std::nullopt;
    if (entryString(file.get(), "Type") != "Application") return std::nullopt;
    if (g_key_file_get_boolean(file.get(), kEntryGroup, "Hidden", nullptr)) return std::nullopt;
    if (auto tryExec = entryString(file.get(), "TryExec"); tryExec && !tryExec->empty()) {
        if (!isProgramFound(tryExec->c_str())) return std::nullopt;
    }
    std::string program;
    if (auto exec = entryString(file.get(), "Exec"); exec && !exec->empty()) {
        int argc = 0;
        char** argv = nullptr;
        if (!g_shell_parse_argv(exec->c_str(), &argc, &argv, nullptr)) return std::nullopt;
        GStrvPtr arguments(argv);
        if (argc < 1 || !isProgramFound(argv[0])) return std::nullopt;
        // The program as written: the first word of Exec, quotes and all.
        const std::size_t begin = exec->find_first_not_of(' ');
        if (begin != std::string::npos) program = exec->substr(begin, exec->find(' ', begin) - begin);
    }
    DesktopEntry entry;
    entry.shown = !g_key_file_get_boolean(file.get(), kEntryGroup, "NoDisplay", nullptr) &&
                  isShownInCurrentDesktop(file.get());
    entry.app =
        platform::InstalledApplication{id,
                                       path,
                                       bounded(entryString(file.get(), "Name").value_or(id), kMaxNameBytes),
                                       entryString(file.get(), "Icon").value_or(""),
                                       entryString(file.get(), "StartupWMClass").value_or(""),
                                       std::move(program)};
    return entry;
}

std::string errorText(GError* error) {
    std::string text = error != nullptr && error->message != nullptr ? error->message : "unknown error";
    if (error != nullptr) g_error_free(error);
    return text;
}

std::string inQuotes(std::string_view s) {
    return "\u201c" + std::string(s) + "\u201d";
}

// GIO starts a program through a small wrapper (gio-launch-desktop), so a program that cannot be
// executed fails after GIO has reported success and the user would see nothing at all. What can be
// known beforehand is checked here: the program is found and, for a script, so is its interpreter.
std::optional<std::string> unstartableProgram(GAppInfo* info) {
    const char* commandLine = g_app_info_get_commandline(info);
    if (commandLine == nullptr) return std::nullopt;
    gint argc = 0;
    gchar** argv = nullptr;
    if (!g_shell_parse_argv(commandLine, &argc, &argv, nullptr) || argc == 0) return std::nullopt;
    const std::string program = argv[0];
    g_strfreev(argv);
    GText found(g_find_program_in_path(program.c_str()));
    if (!found)
        return "Failed to execute child process " + inQuotes(program) + " (No such file or directory)";
    char head[256] = {};
    if (FILE* file = std::fopen(found.get(), "rb")) {
        const std::size_t n = std::fread(head, 1, sizeof head - 1, file);
        std::fclose(file);
        head[n] = '\0';
    }
    if (head[0] == '#' && head[1] == '!') {
        std::string_view line(head + 2);
        line = line.substr(0, line.find('\n'));
        const std::size_t begin = line.find_first_not_of(" \t");
        if (begin == std::string_view::npos) return std::nullopt;
        line = line.substr(begin);
        const std::string interpreter(line.substr(0, line.find_first_of(" \t\r")));
        if (!g_file_test(interpreter.c_str(), G_FILE_TEST_IS_EXECUTABLE)) {
            return "Failed to execute child process " + inQuotes(found.get()) + " (its interpreter " +
                   inQuotes(interpreter) + " does not exist)";
        }
    }
    return std::nullopt;
}

// Runs in the child between fork and exec, so only async-signal-safe calls. A session of its own:
// the program outlives Quenlit and its terminal, and no signal to Quenlit's group reaches it. An
// entry's own working folder (its Path key) was entered before this runs and is kept.
struct ChildSetup {
    const char* home = nullptr;  // null: the entry names its own working folder
};

void setUpChild(gpointer data) {
    const auto* setup = static_cast<const ChildSetup*>(data);
    ::setsid();
    if (setup->home != nullptr) [[maybe_unused]]
        auto ignored = ::chdir(setup->home);
}

}  // namespace

ApplicationFolderWalk walkApplicationFolder(const std::filesystem::path& folder,
                                            const std::vector<std::filesystem::path>& trees) {
    namespace fs = std::filesystem;
    ApplicationFolderWalk walk;
    struct stat top {};
    if (::stat(folder.c_str(), &top) != 0) {
        // Most XDG data folders have no applications folder; that is no error.
        if (errno != ENOENT && errno != ENOTDIR)
            walk.unreadable.push_back(folder.string() + ": " + strerror(errno));
        return walk;
    }
    if (!S_ISDIR(top.st_mode)) return walk;
    {
        std::error_code ec;
        walk.realFolder = fs::canonical(folder, ec).string();
        if (ec) walk.realFolder.clear();
    }
    std::vector<fs::path> realTrees;
    for (const auto& tree : trees) {
        std::error_code ec;
        fs::path real = fs::canonical(tree, ec);
        if (!ec) realTrees.push_back(std::move(real));
    }
    std::set<std::pair<dev_t, ino_t>> visited{{top.st_dev, top.st_ino}};
    struct Pending {
        std::string relative;  // "" for the folder itself, else "kde" or "kde/extra"
        int depth;
    };
    std::vector<Pending> pending{{"", 0}};
    while (!pending.empty()) {
        const Pending current = std::move(pending.back());
        pending.pop_back();
        const fs::path dir = current.relative.empty() ? folder : folder / current.relative;
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            std::string relative = current.relative.empty() ? name : current.relative + "/" + name;
            std::error_code typeError;
            if (!it->is_directory(typeError)) {  // follows links
                if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) {
                    if (it->is_symlink(typeError) || typeError) walk.linkedFiles.push_back(relative);
                    walk.desktopFiles.push_back(std::move(relative));
                }
                continue;
            }
            if (current.depth + 1 > kMaxApplicationFolderDepth) continue;
            if (it->is_symlink(typeError)) {
                std::error_code realError;
                const fs::path real = fs::canonical(it->path(), realError);
                if (realError || std::none_of(realTrees.begin(), realTrees.end(),
                                              [&](const fs::path& tree) { return isInside(real, tree); })) {
                    continue;
                }
            }
            struct stat sub {};
            if (::stat(it->path().c_str(), &sub) != 0) continue;
            if (!visited.insert({sub.st_dev, sub.st_ino}).second) continue;
            pending.push_back({std::move(relative), current.depth + 1});
        }
        if (ec) walk.unreadable.push_back(dir.string() + ": " + ec.message());
    }
    std::sort(walk.desktopFiles.begin(), walk.desktopFiles.end());
    std::sort(walk.linkedFiles.begin(), walk.linkedFiles.end());
    return walk;
}

std::optional<std::string> DesktopWorkspace::launch(GAppInfo* info, const char* uri) {
    if (auto problem = unstartableProgram(info)) return problem;
    GError* error = nullptr;
    GObjectPtr<GAppLaunchContext> context(g_app_launch_context_new());
    // The environment Quenlit was given, not the one it made for its own toolkit.
    for (const auto& [name, value] : childEnvironment_) {
        if (value) {
            g_app_launch_context_setenv(context.get(), name.c_str(), value->c_str());
        } else {
            g_app_launch_context_unsetenv(context.get(), name.c_str());
        }
    }
    GList uris{const_cast<char*>(uri), nullptr, nullptr};
    if (!G_IS_DESKTOP_APP_INFO(info)) {
        if (g_app_info_launch_uris(info, uri != nullptr ? &uris : nullptr, context.get(), &error)) {
            return std::nullopt;
        }
        return errorText(error);
    }
    auto* desktop = G_DESKTOP_APP_INFO(info);
    GText ownFolder(g_desktop_app_info_get_string(desktop, "Path"));
    const std::string home = g_get_home_dir();
    ChildSetup setup{ownFolder && *ownFolder ? nullptr : home.c_str()};
    // Neither its output nor its input is Quenlit's terminal.
    const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                                G_SPAWN_STDERR_TO_DEV_NULL);
    if (g_desktop_app_info_launch_uris_as_manager(desktop, uri != nullptr ? &uris : nullptr, context.get(),
                                                  flags, setUpChild, &setup, nullptr, nullptr, &error)) {
        return std::nullopt;
    }
    return errorText(error);
}

// The applications folders in XDG order: the user's own first, then each system data folder.
static std::vector<std::filesystem::path> applicationFolders() {
    std::vector<std::filesystem::path> folders{std::filesystem::path(g_get_user_data_dir()) / "applications"};
    for (const char* const* dir = g_get_system_data_dirs(); *dir != nullptr; ++dir) {
        folders.push_back(std::filesystem::path(*dir) / "applications");
    }
    return folders;
}

std::optional<platform::InstalledApplication> DesktopWorkspace::entryFor(const std::string& path,
                                                                         const std::string& id,
                                                                         int folderDescriptor,
                                                                         const std::string& relative) {
    struct stat st {};
    const int found = folderDescriptor >= 0 ? ::fstatat(folderDescriptor, relative.c_str(), &st, 0)
                                            : ::stat(path.c_str(), &st);
    if (found != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const long long modified = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    const long long changed = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    {
        std::lock_guard lock(cacheMutex_);
        auto it = cache_.find(path);
        if (it != cache_.end() && it->second.modified == modified && it->second.changed == changed &&
            it->second.size == static_cast<long long>(st.st_size) && it->second.inode == st.st_ino) {
            return it->second.app;
        }
    }
    CachedEntry entry{modified, changed, static_cast<long long>(st.st_size), st.st_ino, std::nullopt};
    // Logged once per change of the file: the result is cached like any other.
    if (st.st_size > kMaxDesktopFileSize) {
        log::write("apps: skipped " + path + ": too large (" + std::to_string(st.st_size) +
                   " bytes, at most " + std::to_string(kMaxDesktopFileSize) + ")");
    } else if (std::optional<DesktopEntry> read = readDesktopEntry(path, id); read && read->shown) {
        entry.app = std::move(read->app);
    }
    std::lock_guard lock(cacheMutex_);
    cache_[path] = entry;
    return entry.app;
}

std::vector<platform::InstalledApplication> DesktopWorkspace::installedApplications() {
    std::vector<platform::InstalledApplication> out;
    // The first folder that has a desktop-file ID owns it, whether or not its entry is shown: a
    // Hidden entry in the user's folder hides the system's entry of the same ID.
    std::unordered_map<std::string, bool> claimed;
    const std::vector<std::filesystem::path> folders = applicationFolders();
    for (const auto& folder : folders) {
        ApplicationFolderWalk walk = walkApplicationFolder(folder, folders);
        for (const auto& problem : walk.unreadable) {
            std::unique_lock lock(cacheMutex_);
            if (reportedUnreadable_.insert(problem).second) {
                lock.unlock();
                log::write("apps: skipped unreadable folder " + problem);
            }
        }
        const std::string prefix = folder.string() + "/";
        const int descriptor =
            walk.desktopFiles.empty() ? -1 : ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        for (const auto& relative : walk.desktopFiles) {
            // The ID of "applications/kde/konsole.desktop" is "kde-konsole".
            std::string id = withoutDesktopSuffix(relative);
            std::replace(id.begin(), id.end(), '/', '-');
            if (!claimed.emplace(id, true).second) continue;
            auto app = entryFor(prefix + relative, id, descriptor, relative);
            if (!app) continue;
            // A file directly in the folder that is no link itself resolves within the resolved
            // folder: the catalogue need not look at the file again.
            if (!walk.realFolder.empty() && relative.find('/') == std::string::npos &&
                !std::binary_search(walk.linkedFiles.begin(), walk.linkedFiles.end(), relative)) {
                app->resolvedPath = walk.realFolder + (walk.realFolder == "/" ? "" : "/") + relative;
            }
            out.push_back(std::move(*app));
        }
        if (descriptor >= 0) ::close(descriptor);
    }
    auto list = std::make_shared<const std::vector<platform::InstalledApplication>>(out);
    std::lock_guard lock(cacheMutex_);
    lastList_ = std::move(list);
    lastListTime_ = std::chrono::steady_clock::now();
    return out;
}

std::shared_ptr<const std::vector<platform::InstalledApplication>>
DesktopWorkspace::recentInstalledApplications(std::chrono::milliseconds maxAge) {
    {
        std::lock_guard lock(cacheMutex_);
        if (lastList_ && std::chrono::steady_clock::now() - lastListTime_ <= maxAge) return lastList_;
    }
    installedApplications();
    std::lock_guard lock(cacheMutex_);
    return lastList_;
}

Result<> DesktopWorkspace::open(const std::string& path) {
    if (GObjectPtr<GDesktopAppInfo> app{g_desktop_app_info_new_from_filename(path.c_str())}) {
        if (auto error = launch(G_APP_INFO(app.get()), nullptr)) return Failure{*error};
        return {};
    }
    // An entry GIO no longer accepts (its program was removed since the catalogue was read) is not
    // a document to open in an editor.
    if (std::string_view(path).ends_with(".desktop")) {
        return Failure{"Cannot start " + path + ": the entry is unreadable or its program is missing"};
    }
    GError* error = nullptr;
    GText uri(g_filename_to_uri(path.c_str(), nullptr, &error));
    if (!uri) return Failure{errorText(error)};
    return openURL(uri.get());
}

Result<> DesktopWorkspace::openURL(const std::string& url) {
    // The handler GIO would choose, started as any program from the launcher is.
    GObjectPtr<GFile> file(g_file_new_for_uri(url.c_str()));
    GError* error = nullptr;
    GObjectPtr<GAppInfo> handler(g_file_query_default_handler(file.get(), nullptr, &error));
    if (!handler) return Failure{errorText(error)};
    if (auto failure = launch(handler.get(), url.c_str())) return Failure{*failure};
    return {};
}

void DesktopWorkspace::openApplication(const std::string& path,
                                       const platform::OpenConfiguration& configuration,
                                       std::function<void(Result<>)> completion) {
    std::optional<std::string> error;
    GObjectPtr<GDesktopAppInfo> app{g_desktop_app_info_new_from_filename(path.c_str())};
    if (!app) {
        error = "not an application: " + path;
    } else if (configuration.arguments.empty()) {
        error = launch(G_APP_INFO(app.get()), nullptr);
    } else {
        // Extra arguments go after the entry's program, without its field codes: GIO has no way to
        // add arguments to an entry's own command line.
        const char* program = g_app_info_get_executable(G_APP_INFO(app.get()));
        if (program == nullptr) {
            error = "no program in " + path;
        } else {
            std::string commandLine;
            GText quotedProgram(g_shell_quote(program));
            commandLine = quotedProgram.get();
            for (const auto& argument : configuration.arguments) {
                GText quoted(g_shell_quote(argument.c_str()));
                commandLine.append(" ").append(quoted.get());
            }
            GError* createError = nullptr;
            GObjectPtr<GAppInfo> command{g_app_info_create_from_commandline(
                commandLine.c_str(), g_app_info_get_name(G_APP_INFO(app.get())), G_APP_INFO_CREATE_NONE,
                &createError)};
            error =
                command ? launch(command.get(), nullptr) : std::optional<std::string>(errorText(createError));
        }
    }
    if (!completion) return;
    if (error) {
        completion(Failure{std::move(*error)});
    } else {
        completion({});
    }
}

// Both lookups below go by the desktop-file ID rules directly, not through GIO's application index
// (see readDesktopEntry).
std::optional<std::string> DesktopWorkspace::bundleIdentifier(const std::string& path) {
    GText base(g_path_get_basename(path.c_str()));
    std::string id = withoutDesktopSuffix(base.get());
    for (const auto& folder : applicationFolders()) {
        const std::string prefix = folder.string() + "/";
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) {
            id = withoutDesktopSuffix(path.substr(prefix.size()));
            std::replace(id.begin(), id.end(), '/', '-');
            break;
        }
    }
    if (!readDesktopEntry(path, id)) return std::nullopt;
    return id;
}

std::optional<std::string> DesktopWorkspace::applicationPath(const std::string& identifier) {
    // An ID names a file inside an applications folder, never a path out of one.
    if (identifier.empty() || identifier.find('/') != std::string::npos) return std::nullopt;
    // "kde-konsole" is "kde-konsole.desktop", else "kde/konsole.desktop", and so on, in the first
    // applications folder that has one of them.
    std::vector<std::string> candidates{identifier};
    for (std::string relative = identifier;;) {
        const std::size_t dash = relative.find('-', candidates.size() > 1 ? relative.rfind('/') + 1 : 0);
        if (dash == std::string::npos) break;
        relative[dash] = '/';
        candidates.push_back(relative);
    }
    for (const auto& folder : applicationFolders()) {
        for (const auto& relative : candidates) {
            const std::string path = (folder / (relative + ".desktop")).string();
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            // The first folder with the ID owns it, even when its entry is Hidden or unusable.
            if (!readDesktopEntry(path, identifier)) return std::nullopt;
            return path;
        }
    }
    return std::nullopt;
}

int DesktopWorkspace::ownProcessIdentifier() {
    return static_cast<int>(::getpid());
}

bool isTerminalEmulatorEntry(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxDesktopFileSize)
        return false;
    GKeyFilePtr file(g_key_file_new());
    if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, nullptr)) return false;
    GStrvPtr categories(g_key_file_get_string_list(file.get(), kEntryGroup, "Categories", nullptr, nullptr));
    return listContains(categories.get(), "TerminalEmulator");
}

}  // namespace quenlit::linux_backend
