#include "launch/AppLauncher.h"

#include "launch/LaunchFailure.h"

namespace quenlit {

bool isFirefoxIdentifier(std::string_view identifier) {
    return identifier == "firefox" || identifier == "firefox-esr" || identifier == "org.mozilla.firefox";
}

namespace AppLauncher {
namespace {

// Firefox started without a profile: the last way to open it, so a failure is told to the user.
void openFirefox(const std::string& appPath, AppActivator::Context& context) {
    platform::DesktopNotifications* notifications = context.notifications;
    context.workspace.openApplication(
        appPath, platform::OpenConfiguration{}, [appPath, notifications](const Result<>& launched) {
            if (!launched) LaunchFailure::report("Firefox", appPath, launched.error().reason, notifications);
        });
}

}  // namespace

void launchFirefoxProfile(const std::string& profile, const std::string& appPath, Context& context) {
    const auto profiles = ProfileManager::detectFirefoxProfiles(context.profiles);
    auto it =
        std::find_if(profiles.begin(), profiles.end(), [&](const auto& p) { return p.name == profile; });
    if (it == profiles.end()) {
        openFirefox(appPath, context.activator);
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
    // A launch the desktop refuses with these arguments still opens Firefox, without them.
    AppActivator::Context& activator = context.activator;
    activator.workspace.openApplication(appPath, configuration,
                                        [&activator, appPath](const Result<>& launched) {
                                            if (!launched) openFirefox(appPath, activator);
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
    openFirefox(appPath, context.activator);
}

}  // namespace AppLauncher
}  // namespace quenlit
