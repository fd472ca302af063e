// profiles.ini comes from Firefox or from whoever edited it: any bytes must parse without a fault,
// and every profile found must name a folder that does not depend on our working directory.

#include "launch/ProfileManager.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& profile :
         quenlit::ProfileManager::parseProfilesINI(text, "/home/user/.mozilla/firefox")) {
        if (!profile.path.is_absolute()) __builtin_trap();
        (void)quenlit::ProfileManager::displayName(profile.path);
    }
    return 0;
}
