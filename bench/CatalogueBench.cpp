// A catalogue scan as the launcher runs it before it shows: 2,000 desktop entries of a generated
// fixture, a Firefox folder with its profiles, and the processes that might hold them.

#include "Budget.h"

#include "backends/linux/DesktopWorkspace.h"
#include "backends/linux/LinuxProcessInspector.h"
#include "backends/linux/PosixFileReader.h"
#include "launch/ProfileManager.h"
#include "launcher/AppIndex.h"
#include "launcher/AppSearch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

namespace fs = std::filesystem;

const char* const kWords[] = {"Files",  "Terminal", "Café",  "Éditeur", "Studio", "Player",
                              "Viewer", "Mail",     "Notes", "Photos",  "Maps",   "Chess",
                              "Office", "Writer",   "Disk",  "Monitor"};

fs::path makeFixture() {
    char pattern[] = "/tmp/quenlit-catalogue-XXXXXX";
    fs::path root = ::mkdtemp(pattern);
    fs::path apps = root / "share/applications";
    fs::create_directories(apps);
    for (int i = 0; i < 2000; ++i) {
        std::ofstream(apps / ("org.example.App" + std::to_string(i) + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=" << kWords[i % 16] << " " << kWords[(i / 16) % 16]
            << " " << i << "\nName[de]=Anwendung " << i << "\nName[fr]=Application " << i
            << "\nGenericName=Example application\nComment=Does example things\nExec=/bin/true --example-"
            << i << " %U\nTryExec=/bin/true\nIcon=org.example.App" << i
            << "\nTerminal=false\nCategories=Utility;Development;\n"
            << (i % 50 == 0 ? "NoDisplay=true\n" : "");
    }
    std::ofstream(apps / "firefox-esr.desktop")
        << "[Desktop Entry]\nType=Application\nName=Firefox ESR\nExec=/bin/true %u\n"
           "Icon=firefox-esr\n";
    fs::path firefox = root / "home/.mozilla/firefox";
    for (const char* folder : {"ab12.default-esr", "cd34.work", "ef56.old"}) {
        fs::create_directories(firefox / folder);
        if (std::string(folder) != "ef56.old") std::ofstream(firefox / folder / "prefs.js") << "\n";
    }
    std::ofstream(firefox / "profiles.ini")
        << "[Profile0]\nName=default-esr\nIsRelative=1\nPath=ab12.default-esr\n"
           "Default=1\n\n[Profile1]\nName=work\nIsRelative=1\nPath=cd34.work\n";
    ::setenv("HOME", (root / "home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root / "share").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (root / "none").c_str(), 1);
    return root;
}

struct Catalogue {
    quenlit::linux_backend::DesktopWorkspace workspace;
    quenlit::linux_backend::LinuxProcessInspector processes;
    quenlit::linux_backend::PosixFileReader files;
    quenlit::ProfileManager::Environment profiles{
        quenlit::ProfileManager::firefoxSupportFolder(quenlit::XdgDirs::current()), processes, files};

    quenlit::AppIndex::Sources sources() {
        return {workspace, [this] { return quenlit::ProfileManager::detectFirefoxProfiles(profiles); },
                [this](const std::vector<quenlit::FirefoxProfile>& found) {
                    return quenlit::ProfileManager::detectRunningProfiles(found, profiles);
                }};
    }
};

}  // namespace

int main(int argc, char** argv) {
    quenlit::bench::useProgramAllocatorSettings();
    const fs::path root = makeFixture();
    static Catalogue catalogue;

    const auto start = std::chrono::steady_clock::now();
    static const std::vector<quenlit::AppItem> apps = quenlit::AppIndex::scanApps(catalogue.sources());
    const double cold =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("first scan of the fixture (desktop files read cold by GIO): %.1f ms, %zu rows\n", cold,
                apps.size());

    quenlit::bench::addBudgeted("AppIndex.scanApps/2,000 entries + Firefox profiles", 30e-3, 1,
                                [](benchmark::State& state) {
                                    for (auto _ : state) {
                                        auto items = quenlit::AppIndex::scanApps(catalogue.sources());
                                        benchmark::DoNotOptimize(items);
                                    }
                                });
    for (std::string query : {"f", "fi", "fire", "café é", "terminal 1999"}) {
        quenlit::bench::addBudgeted("AppSearch.results/scanned catalogue/\"" + query + "\"", 1e-3, 1,
                                    [query](benchmark::State& state) {
                                        for (auto _ : state) {
                                            auto rows = quenlit::AppSearch::results(
                                                query, apps, nullptr, std::nullopt, std::nullopt);
                                            benchmark::DoNotOptimize(rows);
                                        }
                                    });
    }
    int status = quenlit::bench::runAll(argc, argv);
    std::error_code ec;
    fs::remove_all(root, ec);
    return status;
}
