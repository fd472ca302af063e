// The launcher's rows for every keystroke of a typed name, over synthetic catalogues of 1,000 and
// 10,000 applications with realistic names: mixed case, accents, spaces, one in ten running.

#include "Budget.h"

#include "launcher/AppSearch.h"

#include <deque>
#include <random>

namespace {

using quenlit::AppItem;

const char* const kWords[] = {
    "Google",   "Chrome",   "Firefox",     "Visual",  "Studio",   "Code",      "Terminal", "Files",
    "Café",     "Éditeur",  "Musique",     "Photos",  "Daten",    "Übersicht", "Text",     "Editor",
    "Mail",     "Calendar", "Notes",       "Player",  "Manager",  "Settings",  "Office",   "Writer",
    "Calc",     "Impress",  "Draw",        "Viewer",  "Image",    "Vidéo",     "Spotify",  "Slack",
    "Discord",  "Zoom",     "Thunderbird", "GIMP",    "Inkscape", "Blender",   "Kdenlive", "Audacity",
    "Document", "Scanner",  "Archive",     "Backup",  "Disk",     "Usage",     "Analyzer", "System",
    "Monitor",  "Network",  "Bluetooth",   "Printer", "Font",     "Weather",   "Clocks",   "Maps",
    "Contacts", "Software", "Update",      "Driver",  "Tweaks",   "Dconf",     "Ñandú",    "Straße",
    "Ångström", "Game",     "Chess",       "Mines",   "Sudoku",   "Solitaire", "Emacs",    "Vim",
};

std::vector<AppItem> catalogue(std::size_t count) {
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1);
    std::uniform_int_distribution<int> words(1, 3);
    std::uniform_int_distribution<int> tenth(0, 9);
    std::vector<AppItem> apps;
    apps.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string name;
        for (int w = words(rng); w > 0; --w) {
            if (!name.empty()) name += ' ';
            name += kWords[word(rng)];
        }
        if (tenth(rng) == 0) name += " " + std::to_string(i % 100);
        std::string path = "/usr/share/applications/org.example.App" + std::to_string(i) + ".desktop";
        apps.push_back(AppItem::make(quenlit::nameBasedUUID("quenlit.app:" + path), name, path,
                                     quenlit::IconRef::theme("org.example.App" + std::to_string(i)),
                                     tenth(rng) == 0, {}, {}, AppItem::Kind::app));
    }
    return apps;
}

void registerSearch(std::size_t count, double budget) {
    // A deque keeps each catalogue in place while the next is added: the benchmarks refer to them.
    static std::deque<std::vector<AppItem>> catalogues;
    const auto& apps = catalogues.emplace_back(catalogue(count));
    const std::string typed = "visual studio";
    for (std::size_t length = 1; length <= 12; ++length) {
        std::string query = typed.substr(0, length);
        quenlit::bench::addBudgeted(
            "AppSearch.results/" + std::to_string(count) + " apps/\"" + query + "\"", budget, 1,
            [&apps, query](benchmark::State& state) {
                const std::optional<std::string> front = "/usr/share/applications/org.example.App7.desktop";
                const std::optional<std::string> self = "/usr/share/applications/quenlit.desktop";
                for (auto _ : state) {
                    auto rows = quenlit::AppSearch::results(query, apps, nullptr, front, self);
                    benchmark::DoNotOptimize(rows);
                }
            });
    }
}

}  // namespace

int main(int argc, char** argv) {
    quenlit::bench::useProgramAllocatorSettings();
    registerSearch(1000, 0.15e-3);
    registerSearch(10000, 0.5e-3);
    return quenlit::bench::runAll(argc, argv);
}
