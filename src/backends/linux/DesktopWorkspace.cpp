#include "backends/linux/DesktopWorkspace.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

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
                                                                         const std::string& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
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
    // GIO parses the entry and drops Hidden ones and those whose TryExec or Exec program is missing.
    if (GObjectPtr<GDesktopAppInfo> info{g_desktop_app_info_new_from_filename(path.c_str())};
        info && g_app_info_should_show(G_APP_INFO(info.get()))) {  // NoDisplay, OnlyShowIn, NotShowIn
        GText name(g_desktop_app_info_get_string(info.get(), "Name"));
        GText icon(g_desktop_app_info_get_string(info.get(), "Icon"));
        const char* wmClass = g_desktop_app_info_get_startup_wm_class(info.get());
        const char* program = g_app_info_get_executable(G_APP_INFO(info.get()));
        entry.app = platform::InstalledApplication{id,
                                                   path,
                                                   name ? name.get() : id,
                                                   icon ? icon.get() : "",
                                                   wmClass != nullptr ? wmClass : "",
                                                   program != nullptr ? program : ""};
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
    for (const auto& folder : applicationFolders()) {
        std::error_code ec;
        // Relative paths, compared as plain strings: path comparison is far slower.
        std::vector<std::string> files;
        const std::string prefix = folder.string() + "/";
        for (std::filesystem::recursive_directory_iterator
                 it(folder, std::filesystem::directory_options::follow_directory_symlink, ec),
             end;
             !ec && it != end; it.increment(ec)) {
            std::string file = it->path().string();
            if (file.size() > 8 && file.compare(file.size() - 8, 8, ".desktop") == 0 &&
                file.compare(0, prefix.size(), prefix) == 0) {
                files.push_back(file.substr(prefix.size()));
            }
        }
        std::sort(files.begin(), files.end());
        for (const auto& relative : files) {
            // The ID of "applications/kde/konsole.desktop" is "kde-konsole".
            std::string id = withoutDesktopSuffix(relative);
            std::replace(id.begin(), id.end(), '/', '-');
            if (!claimed.emplace(id, true).second) continue;
            if (auto app = entryFor(prefix + relative, id)) out.push_back(std::move(*app));
        }
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
                                       std::function<void(std::optional<std::string>)> completion) {
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
    if (completion) completion(error);
}

std::optional<std::string> DesktopWorkspace::bundleIdentifier(const std::string& path) {
    GObjectPtr<GDesktopAppInfo> app{g_desktop_app_info_new_from_filename(path.c_str())};
    if (!app) return std::nullopt;
    if (const char* id = g_app_info_get_id(G_APP_INFO(app.get()))) return withoutDesktopSuffix(id);
    GText base(g_path_get_basename(path.c_str()));
    return withoutDesktopSuffix(base.get());
}

std::optional<std::string> DesktopWorkspace::applicationPath(const std::string& identifier) {
    const std::string id = identifier + ".desktop";
    GObjectPtr<GDesktopAppInfo> app{g_desktop_app_info_new(id.c_str())};
    if (!app) return std::nullopt;
    const char* file = g_desktop_app_info_get_filename(app.get());
    return file != nullptr ? std::optional<std::string>(file) : std::nullopt;
}

int DesktopWorkspace::ownProcessIdentifier() {
    return static_cast<int>(::getpid());
}

}  // namespace quenlit::linux_backend
