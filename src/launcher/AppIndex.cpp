#include "launcher/AppIndex.h"

#include "base/Log.h"
#include "launcher/AppSearch.h"
#include "launcher/Zoxide.h"

#include <algorithm>
#include <set>
#include <system_error>

namespace quenlit {
namespace {

constexpr platform::Seconds kIndexWaitPoll{0.005};

std::optional<IconRef> iconFor(const platform::InstalledApplication& app) {
    if (app.icon.empty()) return std::nullopt;
    if (app.icon.front() == '/') return IconRef::file(app.icon);
    return IconRef::theme(app.icon);
}

bool fileExists(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::exists(p, ec);
}

std::string joinedWith(const std::vector<std::string>& words, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) out.append(separator);
        out.append(words[i]);
    }
    return out;
}

}  // namespace

AppIndex::AppIndex(platform::Scheduler& scheduler, Sources sources, ZoxideContext zoxide)
    : scheduler_(scheduler), sources_(std::move(sources)), zoxide_(std::move(zoxide)) {
    scheduler_.post(self_.bind([](AppIndex& self) { self.indexApps(); }));
}

AppIndex::~AppIndex() {
    if (zoxideTask_) zoxideTask_->cancel();
    self_.reset();
}

void AppIndex::indexApps(std::function<void()> done) {
    if (isIndexing_) {
        // The scan in progress runs again because of the flag; this caller waits for its result.
        needsReindex_ = true;
        waitUntilIndexed(std::move(done));
        return;
    }
    isIndexing_ = true;
    scanPass(std::move(done));
}

void AppIndex::waitUntilIndexed(std::function<void()> done) {
    scheduler_.postAfter(kIndexWaitPoll, self_.bind([done = std::move(done)](AppIndex& self) {
        if (self.isIndexing_) {
            self.waitUntilIndexed(done);
        } else if (done) {
            done();
        }
    }));
}

void AppIndex::scanPass(std::function<void()> done) {
    needsReindex_ = false;
    scheduler_.runInBackground<std::vector<AppItem>>(
        [sources = sources_](const platform::TaskHandle&) { return scanApps(sources); },
        self_.bind([done = std::move(done)](AppIndex& self, std::vector<AppItem> list) {
            if (self.needsReindex_) {
                self.scanPass(done);
                return;
            }
            self.publishApps(std::move(list));
            self.isIndexing_ = false;
            if (done) done();
        }));
}

std::vector<AppItem> AppIndex::scanApps(const Sources& sources) {
    std::set<std::string> runningPaths;
    for (const auto& app : sources.workspace.runningApplications()) {
        if (app.activationPolicy != platform::ActivationPolicy::regular || !app.bundlePath) continue;
        runningPaths.insert(resolveSymlinks(*app.bundlePath));
    }
    const std::vector<FirefoxProfile> profiles =
        sources.detectProfiles ? sources.detectProfiles() : std::vector<FirefoxProfile>{};
    const std::map<std::string, FirefoxProfile> runningProfiles =
        sources.runningProfiles && !profiles.empty() ? sources.runningProfiles(profiles)
                                                     : std::map<std::string, FirefoxProfile>{};

    bool firefoxExpanded = false;
    std::set<std::string> seen;
    SymlinkResolver resolver;
    const std::vector<platform::InstalledApplication> entries = sources.workspace.installedApplications();
    std::vector<AppItem> items;
    items.reserve(entries.size());
    for (const auto& entry : entries) {
        const std::string& p = entry.path;
        const std::size_t nameStart = p.rfind('/') == std::string::npos ? 0 : p.rfind('/') + 1;
        if (nameStart >= p.size() || p[nameStart] == '.') continue;
        const std::string r = entry.resolvedPath.empty() ? resolver.resolve(p) : entry.resolvedPath;
        if (isFirefoxIdentifier(entry.identifier) && !profiles.empty()) {
            // Each profile is a Firefox of its own; a second Firefox entry adds nothing more, and
            // no plain Firefox row is listed even when no profile qualifies.
            if (firefoxExpanded) continue;
            firefoxExpanded = true;
            for (const auto& profile : profiles) {
                const bool running = runningProfiles.count(profile.name) > 0;
                if (!running && !fileExists(profile.path / "prefs.js")) continue;
                if (!seen.insert(r + "#" + profile.name).second) continue;
                items.push_back(AppItem::make(nameBasedUUID("quenlit.app:" + p + "#" + profile.name),
                                              entry.name, p, iconFor(entry), running,
                                              FirefoxProfileDetail{profile.name}, {}, AppItem::Kind::app, r));
            }
            continue;
        }
        if (!seen.insert(r + "#").second) continue;
        const bool running = runningPaths.count(r) > 0;
        items.push_back(AppItem::make(nameBasedUUID("quenlit.app:" + p), entry.name, p, iconFor(entry),
                                      running, {}, {}, AppItem::Kind::app, r));
    }
    // Sorted by name through their places, so that the items themselves move once.
    std::vector<std::size_t> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&items](std::size_t a, std::size_t b) {
        return items[a].searchKeys()->nameSortKey < items[b].searchKeys()->nameSortKey;
    });
    std::vector<AppItem> sorted;
    sorted.reserve(items.size());
    for (std::size_t i : order)
        sorted.push_back(std::move(items[i]));
    return sorted;
}

void AppIndex::publishApps(std::vector<AppItem> items) {
    const bool same =
        items.size() == apps_.size() &&
        std::equal(items.begin(), items.end(), apps_.begin(), [](const AppItem& a, const AppItem& b) {
            return a.id == b.id && a.isRunning == b.isRunning && a.detail == b.detail;
        });
    if (same) return;
    apps_ = std::move(items);
    appsChanged.emit();
}

std::vector<AppItem> AppIndex::search(std::string_view query) const {
    if (auto keywords = Zoxide::keywords(query)) {
        const std::string key = Zoxide::lookupKey(*keywords);
        if (!zoxideItem_ || !zoxideKey_ || *zoxideKey_ != key) return {};
        return {*zoxideItem_};
    }
    std::optional<std::string> front;
    if (auto app = sources_.workspace.frontmostApplication(); app && app->bundlePath) {
        front = resolveSymlinks(*app->bundlePath);
    }
    std::optional<std::string> self = sources_.workspace.selfBundlePath();
    if (self) self = resolveSymlinks(*self);
    bool windowCommands = true;
    if (sources_.windowControl) {
        const platform::WindowCapabilities can = sources_.windowControl->capabilities();
        windowCommands = can.moveAndResize;
        if (!windowCommands && !saidWindowCommandsOff_ && AppSearch::matchesWindowCommand(query)) {
            saidWindowCommandsOff_ = true;
            log::write("launcher: window commands are off — " + can.whyNot);
        }
    }
    return AppSearch::results(query, apps_, nullptr, front, self, windowCommands);
}

void AppIndex::scheduleZoxide(std::string_view query) {
    auto keywords = Zoxide::keywords(query);
    if (!keywords) {
        clearZoxide();
        return;
    }
    const std::string key = Zoxide::lookupKey(*keywords);
    if (zoxideKey_ == key) return;
    if (zoxideItem_) {
        zoxideItem_.reset();
        zoxideItemChanged.emit();
    }
    zoxideKey_.reset();
    if (zoxideTask_) zoxideTask_->cancel();
    const std::uint64_t generation = ++zoxideGeneration_;
    log::write("zoxide: query gen=" + std::to_string(generation) + " " + joinedWith(*keywords, " "));

    platform::ProcessRunner& processes = zoxide_.processes;
    const std::filesystem::path home = zoxide_.home;
    zoxideTask_ = scheduler_.runInBackground<std::optional<std::string>>(
        [&processes, home, words = *keywords](const platform::TaskHandle& task) {
            // A superseded lookup kills its zoxide at once instead of letting it run on unseen.
            return Zoxide::bestMatch(words, std::nullopt, processes, home,
                                     [task] { return task.isCancelled(); });
        },
        [this, weak = self_.weak(), generation, key](std::optional<std::string> match) {
            if (!weak.lock() || zoxideGeneration_ != generation) return;
            zoxideTask_.reset();
            if (match) {
                zoxideItem_ = AppItem::zoxide(*match, zoxide_.home);
                zoxideKey_ = key;
                log::write("zoxide: match gen=" + std::to_string(generation) + " " + *match);
            } else {
                zoxideItem_.reset();
                zoxideKey_ = key;
                log::write("zoxide: no match gen=" + std::to_string(generation));
            }
            zoxideItemChanged.emit();
        });
}

void AppIndex::clearZoxide() {
    if (zoxideTask_) {
        zoxideTask_->cancel();
        zoxideTask_.reset();
    }
    ++zoxideGeneration_;
    if (!zoxideItem_ && !zoxideKey_) return;
    const bool hadItem = zoxideItem_.has_value();
    zoxideItem_.reset();
    zoxideKey_.reset();
    if (hadItem) zoxideItemChanged.emit();
}

void AppIndex::recordZoxideVisit(const std::string& directory) {
    platform::ProcessRunner& processes = zoxide_.processes;
    Zoxide::Environment environment = Zoxide::Environment::current();
    environment.home = zoxide_.home.string();
    while (environment.home.size() > 1 && environment.home.back() == '/')
        environment.home.pop_back();
    // The runner outlives every background task: the program waits for them before it ends.
    scheduler_.runInBackground([&processes, directory, environment](const platform::TaskHandle&) {
        if (!Zoxide::recordVisit(directory, std::nullopt, processes, environment)) {
            log::write("zoxide: could not record the visit to " + directory);
        }
    });
}

}  // namespace quenlit
