#include "launch/AppLauncher.h"

namespace quenlit {

bool isFirefoxIdentifier(std::string_view identifier) {
    return identifier == "firefox" || identifier == "firefox-esr" || identifier == "org.mozilla.firefox";
}

namespace AppLauncher {

void launchFirefoxProfile(const std::string& profile, const std::string& appPath, Context& context) {
    const auto profiles = ProfileManager::detectFirefoxProfiles(context.profiles);
    auto it =
        std::find_if(profiles.begin(), profiles.end(), [&](const auto& p) { return p.name == profile; });
    if (it == profiles.end()) {
        context.activator.workspace.openApplication(appPath, platform::OpenConfiguration{}, nullptr);
        return;
    }
    const bool running = ProfileManager::pidHoldingParentLock(it->path, context.profiles).has_value() ||
                         ProfileManager::isParentLockHeld(it->path, context.profiles) ||
                         ProfileManager::isLegacyLockSymlinkAlive(it->path, context.profiles);
    if (running) {
        activateFirefoxProfile(*it, appPath, context);
    } else {
        launchFirefoxWithProfile(it->path, appPath, context);
    }
}

void launchFirefoxWithProfile(const std::filesystem::path& profilePath, const std::string& appPath,
                              Context& context) {
    platform::OpenConfiguration configuration;
    configuration.activates = true;
    configuration.arguments = {"-no-remote", "--profile", profilePath.string(), "-foreground"};
    platform::Workspace& workspace = context.activator.workspace;
    // A launch the desktop refuses with these arguments still opens Firefox, without them.
    workspace.openApplication(
        appPath, configuration, [&workspace, appPath](std::optional<std::string> error) {
            if (error) workspace.openApplication(appPath, platform::OpenConfiguration{}, nullptr);
        });
}

void activateFirefoxProfile(const FirefoxProfile& profile, const std::string& appPath, Context& context) {
    platform::Workspace& workspace = context.activator.workspace;
    if (auto pid = ProfileManager::pidHoldingParentLock(profile.path, context.profiles)) {
        if (auto app = workspace.runningApplication(*pid)) {
            AppActivator::restore(*app, context.activator);
            return;
        }
    }
    for (const auto& app : workspace.runningApplications()) {
        if (!app.isTerminated && app.bundleIdentifier && isFirefoxIdentifier(*app.bundleIdentifier)) {
            AppActivator::restore(app, context.activator);
            return;
        }
    }
    workspace.openApplication(appPath, platform::OpenConfiguration{}, nullptr);
}

}  // namespace AppLauncher
}  // namespace quenlit
