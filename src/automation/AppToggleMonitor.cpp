#include "automation/AppToggleMonitor.h"

#include "automation/VirtualKeys.h"
#include "base/Log.h"
#include "base/Text.h"
#include "panel/FocusRestorer.h"

#include <system_error>

namespace quenlit {
namespace {

using platform::EventType;

constexpr std::uint64_t kTapEventMask = platform::eventMaskBit(EventType::keyDown) |
                                        platform::eventMaskBit(EventType::keyUp) |
                                        platform::eventMaskBit(EventType::flagsChanged);
static_assert(kTapEventMask == 0x1C00);

const AppToggleModifierSet kLeftControlOnly{AppToggleModifier::leftControl};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (i + length > s.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return false;
        }
        i += length;
    }
    return true;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return text::lowercase(a) == text::lowercase(b);
}

bool isTarget(const platform::RunningApplication& app, const std::optional<std::string>& bundleID,
              const std::optional<std::string>& appName) {
    if (app.activationPolicy != platform::ActivationPolicy::regular || app.isTerminated) return false;
    if (bundleID && !bundleID->empty()) return app.bundleIdentifier == *bundleID;
    if (appName && !appName->empty())
        return app.localizedName && equalIgnoringCase(*app.localizedName, *appName);
    return false;
}

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

// ---- Deciding -------------------------------------------------------------------------------

AppToggleAction AppToggleAction::resolve(const std::optional<std::string>& bundleID,
                                         const std::optional<std::string>& appName,
                                         const std::optional<platform::RunningApplication>& frontmost,
                                         const std::vector<platform::RunningApplication>& running,
                                         const AppToggleLookup& lookup) {
    if (frontmost && isTarget(*frontmost, bundleID, appName)) return hide(*frontmost);
    for (const auto& app : running) {
        if (isTarget(app, bundleID, appName)) return activate(app);
    }
    if (auto path = resolveURL(bundleID, appName, lookup)) return launch(std::move(*path));
    return notFound();
}

std::optional<std::string> AppToggleAction::resolveURL(const std::optional<std::string>& bundleID,
                                                       const std::optional<std::string>& appName,
                                                       const AppToggleLookup& lookup) {
    if (bundleID && !bundleID->empty()) {
        if (auto path = lookup.workspace.applicationPath(*bundleID)) return path;
    }
    if (!appName || appName->empty()) return std::nullopt;
    // A name with a slash would reach into subfolders, or out of the folder altogether when it is
    // absolute; such a name can only match an entry's Name.
    if (appName->find('/') == std::string::npos && appName->find('\0') == std::string::npos) {
        const std::string fileName = endsWith(*appName, ".desktop") ? *appName : *appName + ".desktop";
        for (const auto& folder : lookup.applicationDirectories) {
            const auto candidate = folder / fileName;
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error)) return candidate.string();
        }
    }
    for (const auto& entry : lookup.workspace.installedApplications()) {
        if (equalIgnoringCase(entry.name, *appName)) return entry.path;
    }
    return std::nullopt;
}

// ---- Files and log lines --------------------------------------------------------------------

AppToggleMonitor::Files AppToggleMonitor::Files::forUser(const XdgDirs& dirs, const XdgDirs::Getenv& getenv) {
    Files files;
    files.bindingsFile = dirs.bindingsFile();
    files.applicationDirectories.push_back(dirs.dataHome / "applications");
    const char* value = getenv("XDG_DATA_DIRS");
    std::string_view list = value != nullptr && *value != '\0' ? value : "/usr/local/share:/usr/share";
    while (true) {
        const std::size_t colon = list.find(':');
        const std::filesystem::path folder(list.substr(0, colon));
        // Relative entries are invalid in the base-directory rules and are ignored.
        if (folder.is_absolute()) files.applicationDirectories.push_back(folder / "applications");
        if (colon == std::string_view::npos) break;
        list.remove_prefix(colon + 1);
    }
    return files;
}

AppToggleBindingsResult AppToggleMonitor::loadBindings(const std::filesystem::path& file,
                                                       platform::FileReader& files) {
    using Status = platform::FileRead::Status;
    const platform::FileRead read = files.read(file, AppToggleBindings::kMaxFileSize);
    switch (read.status) {
        case Status::missing:
            return {};
        case Status::tooLarge:
            return {{}, AppToggleBindingsError::fileTooLarge(file.string(), read.size)};
        case Status::unreadable:
        case Status::notRegularFile:
            return {{}, AppToggleBindingsError::fileUnreadable(file.string())};
        case Status::ok:
            break;
    }
    if (!isValidUtf8(read.bytes)) return {{}, AppToggleBindingsError::fileUnreadable(file.string())};
    return AppToggleBindings::parse(read.bytes);
}

std::string AppToggleMonitor::bindingLogLine(const AppToggleBinding& binding) {
    return "apptoggle: binding leftControl+" + binding.key + " → " + binding.label();
}

std::string AppToggleMonitor::noBindingsLogLine(const std::filesystem::path& file) {
    return "apptoggle: no bindings (create " + file.string() + ")";
}

std::string AppToggleMonitor::loadFailedLogLine(const AppToggleBindingsError& error) {
    return "apptoggle: load failed — " + error.description();
}

// ---- The monitor ----------------------------------------------------------------------------

AppToggleMonitor::AppToggleMonitor(Services services, Files files)
    : services_(services), files_(std::move(files)), bindingsForTap_(std::make_shared<const Snapshot>()) {}

AppToggleMonitor::~AppToggleMonitor() {
    // The tap first: its callback may be running on the tap's thread until then.
    tearDownTap();
    self_.reset();
}

void AppToggleMonitor::publish(std::vector<AppToggleBinding> bindings) {
    auto snapshot = std::make_shared<const Snapshot>(bindings);
    bindings_ = std::move(bindings);
    std::lock_guard lock(stateLock_);
    bindingsForTap_ = std::move(snapshot);
}

void AppToggleMonitor::reloadBindings() {
    AppToggleBindingsResult loaded = loadBindings(files_.bindingsFile, services_.files);
    if (loaded.error) {
        publish({});
        log::write(loadFailedLogLine(*loaded.error));
        return;
    }
    publish(std::move(loaded.bindings));
    for (const auto& binding : bindings_)
        log::write(bindingLogLine(binding));
}

void AppToggleMonitor::start() {
    reloadBindings();
    if (bindings_.empty()) {
        log::write(noBindingsLogLine(files_.bindingsFile));
        return;
    }
    FocusRestorer::ensureTrusted(true, services_.windows);
    installTapIfPossible();
    const bool trusted = services_.windows.isProcessTrusted(false);
    log::write("apptoggle: start bindings=" + std::to_string(bindings_.size()) +
               " ax=" + (trusted ? "1" : "0") + " tap=" + (tapPort_ ? "1" : "0"));
}

void AppToggleMonitor::installTapIfPossible() {
    if (tapPort_) return;
    if (!services_.windows.isProcessTrusted(false)) {
        log::write("apptoggle: tap deferred — Accessibility not trusted");
        return;
    }
    std::vector<std::uint32_t> keys;
    for (const auto& binding : bindings_)
        keys.push_back(virtualKeys::keysymOf(binding.keyCode));
    services_.keyboard.setSwallowableKeys(keys);
    auto created =
        services_.keyboard.createTap(platform::TapMode::swallowing, kTapEventMask,
                                     [this](const platform::InputEvent& e) { return appToggleCallback(e); });
    if (!created) {
        if (created.error().kind != Failure::Kind::unsupported) {
            log::write("apptoggle: failed to create run-loop source");
        } else if (!loggedTapFailure_) {
            log::write("apptoggle: failed to create event tap");
            loggedTapFailure_ = true;
        }
        return;
    }
    tapPort_ = std::move(created).value();
    tapPort_->setEnabled(true);
    loggedTapFailure_ = false;
    log::write("apptoggle: event tap active");
}

void AppToggleMonitor::tearDownTap() {
    if (!tapPort_) return;
    tapPort_->setEnabled(false);
    tapPort_.reset();
}

bool AppToggleMonitor::appToggleCallback(const platform::InputEvent& event) {
    switch (event.type) {
        case EventType::tapDisabledByTimeout:
        case EventType::tapDisabledByUserInput:
            services_.scheduler.post(self_.bind([](AppToggleMonitor& self) {
                if (self.tapPort_) {
                    self.tapPort_->setEnabled(true);
                    log::write("apptoggle: re-enabled tap after disable");
                } else {
                    self.installTapIfPossible();
                }
            }));
            return true;

        case EventType::flagsChanged: {
            const platform::Modifiers& m = event.modifiers;
            const auto key = virtualKeys::forKey(event.keysym, event.keycode);
            if (key == virtualKeys::rightControl) {
                std::lock_guard lock(stateLock_);
                leftControlForTap_ = m.leftControl;
            } else if (key == virtualKeys::leftControl) {
                // Some keyboards report Control without saying which key: then the press of the
                // left key with Control held, and the right key not down, is the left key.
                const bool held = m.leftControl || (m.control && !m.rightControl);
                std::lock_guard lock(stateLock_);
                leftControlForTap_ = held;
            }
            return true;
        }

        case EventType::keyDown:
        case EventType::keyUp: {
            bool leftControlRemembered;
            std::shared_ptr<const Snapshot> snapshot;
            {
                std::lock_guard lock(stateLock_);
                leftControlRemembered = leftControlForTap_;
                snapshot = bindingsForTap_;
            }
            const platform::Modifiers& m = event.modifiers;
            const bool leftControlHeld =
                m.control && (m.leftControl || (!m.rightControl && leftControlRemembered));
            if (event.autorepeat || !leftControlHeld || m.shift || m.alt || m.super) return true;
            const auto key = virtualKeys::forKey(event.keysym, event.keycode);
            if (!key) return true;
            for (std::size_t i = 0; i < snapshot->size(); ++i) {
                const AppToggleBinding& binding = (*snapshot)[i];
                if (*key != binding.keyCode || binding.modifiers != kLeftControlOnly) continue;
                if (event.type == EventType::keyDown) {
                    services_.scheduler.post(self_.bind(
                        [snapshot, i](AppToggleMonitor& self) { self.handleToggle((*snapshot)[i]); }));
                }
                return false;
            }
            return true;
        }

        default:
            return true;
    }
}

void AppToggleMonitor::handleToggle(const AppToggleBinding& binding) {
    auto& workspace = services_.workspace;
    const AppToggleLookup lookup{workspace, files_.applicationDirectories};
    const AppToggleAction action =
        AppToggleAction::resolve(binding.bundleID, binding.appName, workspace.frontmostApplication(),
                                 workspace.runningApplications(), lookup);
    const std::string label = binding.label();
    switch (action.kind) {
        case AppToggleAction::Kind::hide: {
            const bool ok = workspace.hide(action.app->processIdentifier);
            log::write("apptoggle: hide " + label + " pid=" + std::to_string(action.app->processIdentifier) +
                       " ok=" + (ok ? "true" : "false"));
            break;
        }
        case AppToggleAction::Kind::activate: {
            const bool ok = workspace.activate(action.app->processIdentifier, true);
            log::write("apptoggle: activate " + label + " pid=" +
                       std::to_string(action.app->processIdentifier) + " ok=" + (ok ? "true" : "false"));
            break;
        }
        case AppToggleAction::Kind::launch: {
            platform::OpenConfiguration configuration;
            configuration.activates = true;
            // The completion may come on any thread: it only logs, from its own copies.
            workspace.openApplication(
                action.path, configuration, [label, path = action.path](const Result<>& launched) {
                    if (!launched) {
                        log::write("apptoggle: launch failed " + label + " — " + launched.error().reason);
                    } else {
                        log::write("apptoggle: launch " + label + " path=" + path);
                    }
                });
            break;
        }
        case AppToggleAction::Kind::notFound:
            log::write("apptoggle: app not found " + label);
            break;
    }
}

}  // namespace quenlit
