#include "backends/linux/DesktopWorkspace.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <unistd.h>

#include <memory>

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

std::optional<std::string> launch(GAppInfo* info) {
    GError* error = nullptr;
    GObjectPtr<GAppLaunchContext> context(g_app_launch_context_new());
    if (g_app_info_launch(info, nullptr, context.get(), &error)) return std::nullopt;
    return errorText(error);
}

}  // namespace

std::vector<platform::InstalledApplication> DesktopWorkspace::installedApplications() {
    std::vector<platform::InstalledApplication> out;
    // GIO walks $XDG_DATA_HOME and $XDG_DATA_DIRS in order, keeps the first entry of each
    // desktop-file ID, and drops Hidden entries and those whose TryExec program is missing.
    GList* all = g_app_info_get_all();
    for (GList* node = all; node != nullptr; node = node->next) {
        auto* info = G_DESKTOP_APP_INFO(node->data);
        if (!g_app_info_should_show(G_APP_INFO(info))) continue;  // NoDisplay, OnlyShowIn, NotShowIn
        const char* id = g_app_info_get_id(G_APP_INFO(info));
        const char* file = g_desktop_app_info_get_filename(info);
        if (id == nullptr || file == nullptr) continue;
        GText name(g_desktop_app_info_get_string(info, "Name"));
        GText icon(g_desktop_app_info_get_string(info, "Icon"));
        const char* wmClass = g_desktop_app_info_get_startup_wm_class(info);
        const char* program = g_app_info_get_executable(G_APP_INFO(info));
        out.push_back({withoutDesktopSuffix(id), file, name ? name.get() : withoutDesktopSuffix(id),
                       icon ? icon.get() : "", wmClass != nullptr ? wmClass : "",
                       program != nullptr ? program : ""});
    }
    g_list_free_full(all, g_object_unref);
    return out;
}

bool DesktopWorkspace::open(const std::string& path) {
    if (GObjectPtr<GDesktopAppInfo> app{g_desktop_app_info_new_from_filename(path.c_str())}) {
        return !launch(G_APP_INFO(app.get()));
    }
    GText uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    if (!uri) return false;
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(uri.get(), nullptr, &error)) return true;
    if (error != nullptr) g_error_free(error);
    return false;
}

bool DesktopWorkspace::openURL(const std::string& url) {
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) return true;
    if (error != nullptr) g_error_free(error);
    return false;
}

void DesktopWorkspace::openApplication(const std::string& path,
                                       const platform::OpenConfiguration& configuration,
                                       std::function<void(std::optional<std::string>)> completion) {
    std::optional<std::string> error;
    GObjectPtr<GDesktopAppInfo> app{g_desktop_app_info_new_from_filename(path.c_str())};
    if (!app) {
        error = "not an application: " + path;
    } else if (configuration.arguments.empty()) {
        error = launch(G_APP_INFO(app.get()));
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
            error = command ? launch(command.get()) : std::optional<std::string>(errorText(createError));
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
