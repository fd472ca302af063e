#include "shell/FocusRestorer.h"

namespace quenlit::FocusRestorer {
namespace {

bool didPromptForTrust = false;
bool didLogTrust = false;

}  // namespace

void resetFlagsForTesting() {
    didPromptForTrust = false;
    didLogTrust = false;
}

bool ensureTrusted(bool prompt, platform::Accessibility& accessibility) {
    const bool trusted = accessibility.isProcessTrusted(false);
    if (trusted || !prompt) return trusted;
    if (didPromptForTrust) return accessibility.isProcessTrusted(false);
    didPromptForTrust = true;
    log("Accessibility not trusted — prompting once (required for clipboard ⌘V / window snap / text expander / "
        "app toggle)");
    if (accessibility.isProcessTrusted(true)) {
        log("Accessibility trusted=1 (after prompt)");
        return true;
    }
    log("Accessibility still denied — enable Quenlit in Privacy → Accessibility, then fully quit & relaunch Quenlit");
    return false;
}

void logTrustOnce(platform::Accessibility& accessibility) {
    const bool trusted = accessibility.isProcessTrusted(false);
    if (didLogTrust) return;
    didLogTrust = true;
    log(std::string("Accessibility trusted=") + (trusted ? "1" : "0"));
}

void openPrivacyPane(const std::vector<std::string>& anchors, const std::string& label,
                     platform::Workspace& workspace) {
    static const char* const kBases[] = {"x-apple.systempreferences:com.apple.preference.security?",
                                         "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?"};
    for (const char* base : kBases) {
        for (const auto& anchor : anchors) {
            if (workspace.openURL(base + anchor)) {
                log("opened " + label + " setting");
                return;
            }
        }
    }
    log("failed to open " + label + " setting");
}

}  // namespace quenlit::FocusRestorer
