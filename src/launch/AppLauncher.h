#pragma once

// Firefox profiles are Firefox instances of their own: picking one brings forward the process that
// holds that profile, or starts a new Firefox for exactly that profile.

#include "launch/AppActivator.h"
#include "launch/FirefoxProfile.h"
#include "launch/ProfileManager.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace quenlit {

// Desktop-file identifiers under which Firefox is installed.
bool isFirefoxIdentifier(std::string_view identifier);

namespace AppLauncher {

struct Context {
    AppActivator::Context activator;
    ProfileManager::Environment profiles;
};

void launchFirefoxProfile(const std::string& profile, const std::string& appPath, Context& context);
void launchFirefoxWithProfile(const std::filesystem::path& profilePath, const std::string& appPath,
                              Context& context);
void activateFirefoxProfile(const FirefoxProfile& profile, const std::string& appPath, Context& context);

}  // namespace AppLauncher
}  // namespace quenlit
