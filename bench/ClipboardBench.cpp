// The clipboard history at its largest (200 items: 170 texts of 100,000 characters mixing 1-, 2-
// and 3-byte UTF-8 with a line break every 80 characters, and 30 images; about 24 MB on disk) and
// as it usually is (200 texts of about 200 characters): loading the file, the main thread's part of
// a save (copying the items and handing them to the writer, which encodes and writes them in the
// background), and filtering for a query.

#include "Budget.h"

#include "backends/fake/FakeAtomicFile.h"
#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/fake/VirtualScheduler.h"
#include "clipboard/ClipboardHistory.h"
#include "clipboard/ClipboardStore.h"
#include "clipboard/HistoryFile.h"
#include "clipboard/HistoryJson.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace {

namespace fs = std::filesystem;
using quenlit::ClipboardItem;
using quenlit::ClipboardStore;

// Keeps saves off the disk: the background half of a save is not what is measured here.
class DiscardingFiles final : public quenlit::platform::AtomicFile {
  public:
    quenlit::Result<> writeAtomically(const fs::path&, const fs::path&, std::string_view, unsigned) override {
        return {};
    }
    quenlit::Result<> ensurePrivateDirectory(const fs::path&, Links) override { return {}; }
    Read readFile(const fs::path& path, std::uintmax_t maxBytes,
                  const std::function<char*(std::size_t)>& buffer) override {
        return reader.readFile(path, maxBytes, buffer);
    }

  private:
    quenlit::fake::FakeAtomicFile reader;
};

std::string text(std::mt19937& rng, std::size_t characters) {
    static const char* const pieces[] = {"a", "e",  "t",  "o", "n", " ", "s", "r",
                                         "H", "1",  "\"", "/", "é", "ü", "ж", "ß",  // two bytes
                                         "€", "中", "あ"};                          // three bytes
    // 70 % one byte, 20 % two bytes, 10 % three bytes.
    std::discrete_distribution<std::size_t> pick({7, 7, 7, 7, 7, 7, 7, 7, 7, 4, 2, 1, 5, 5, 5, 5, 4, 3, 3});
    std::string out;
    out.reserve(characters * 2);
    for (std::size_t i = 0; i < characters; ++i)
        out += (i % 80 == 79) ? "\n" : pieces[pick(rng)];
    return out;
}

std::vector<ClipboardItem> maximalHistory(const fs::path& images) {
    std::mt19937 rng(20261207);
    std::vector<ClipboardItem> items;
    const auto t = std::chrono::sys_days{std::chrono::May / 1 / 2024};
    for (int i = 0; i < 200; ++i) {
        const auto id = quenlit::nameBasedUUID("bench:" + std::to_string(i));
        if (i % 7 == 3 &&
            items.size() - static_cast<std::size_t>(std::count_if(
                               items.begin(), items.end(),
                               [](const auto& x) { return x.kind == ClipboardItem::Kind::text; })) <
                30) {
            items.push_back(ClipboardItem::makeImage(id, (images / (id.toString() + ".png")).string(), t));
        } else {
            items.push_back(ClipboardItem::makeText(id, text(rng, 100000), t));
        }
    }
    // Fill up to 30 images from the end if the pattern left fewer.
    for (std::size_t i = items.size();
         i-- > 0 && std::count_if(items.begin(), items.end(),
                                  [](const auto& x) { return x.kind == ClipboardItem::Kind::image; }) < 30;) {
        if (items[i].kind == ClipboardItem::Kind::text) {
            items[i] = ClipboardItem::makeImage(items[i].id,
                                                (images / (items[i].id.toString() + ".png")).string(), t);
        }
    }
    return items;
}

std::vector<ClipboardItem> typicalHistory() {
    std::mt19937 rng(42);
    std::uniform_int_distribution<std::size_t> length(120, 280);
    std::vector<ClipboardItem> items;
    const auto t = std::chrono::sys_days{std::chrono::May / 1 / 2024};
    for (int i = 0; i < 200; ++i) {
        items.push_back(ClipboardItem::makeText(quenlit::nameBasedUUID("typical:" + std::to_string(i)),
                                                text(rng, length(rng)), t));
    }
    return items;
}

// The platform the store is built on, with the history file of one size.
struct Setup {
    fs::path folder;
    std::vector<ClipboardItem> items;
    std::string fileBytes;
    quenlit::fake::FakePasteboard pasteboard;
    quenlit::fake::FakeImageCodec codec;
    quenlit::fake::FakeSecretStore secrets;
    DiscardingFiles files;

    Setup(const std::string& name, bool maximal) {
        std::random_device seed;
        folder =
            fs::temp_directory_path() / ("quenlit-clipboard-bench-" + name + "-" + std::to_string(seed()));
        fs::create_directories(folder);
        items = maximal ? maximalHistory(folder / "images") : typicalHistory();
        fileBytes = quenlit::historyJson::encode(items);
        std::ofstream(folder / "clipboard-history.json", std::ios::binary) << fileBytes;
        std::printf("%s history: %zu items, %zu images, %.1f MB on disk\n", name.c_str(), items.size(),
                    static_cast<std::size_t>(
                        std::count_if(items.begin(), items.end(),
                                      [](const auto& x) { return x.kind == ClipboardItem::Kind::image; })),
                    static_cast<double>(fileBytes.size()) / 1e6);
    }
    ~Setup() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    std::unique_ptr<ClipboardStore> store(quenlit::fake::VirtualScheduler& scheduler) {
        ClipboardStore::Options options;
        options.appDataDir = folder;
        return std::make_unique<ClipboardStore>(
            ClipboardStore::Services{scheduler, pasteboard, codec, secrets, files}, options);
    }
};

void registerSize(const std::string& name, bool maximal, double loadBudget, double saveBudget,
                  double filterBudget) {
    static std::vector<std::unique_ptr<Setup>> setups;
    Setup* setup = setups.emplace_back(std::make_unique<Setup>(name, maximal)).get();

    quenlit::bench::addBudgeted("ClipboardStore load/" + name, loadBudget, 1,
                                [setup](benchmark::State& state) {
                                    for (auto _ : state) {
                                        state.PauseTiming();
                                        auto scheduler = std::make_unique<quenlit::fake::VirtualScheduler>();
                                        auto store = setup->store(*scheduler);
                                        state.ResumeTiming();
                                        store->startMonitoring();
                                        state.PauseTiming();
                                        if (store->items().size() != setup->items.size())
                                            state.SkipWithError("the history did not load");
                                        store.reset();
                                        scheduler.reset();
                                        state.ResumeTiming();
                                    }
                                });

    // Saves in a row, each superseding the one before it that was not written yet (as a burst of
    // changes does), then the background half once: encoding the largest history takes tens of
    // milliseconds, which would otherwise be spent, unmeasured, for every save measured.
    constexpr int savesPerWrite = 50;
    quenlit::bench::addBudgeted("ClipboardStore save, main thread/" + name, saveBudget, savesPerWrite,
                                [setup](benchmark::State& state) {
                                    quenlit::fake::VirtualScheduler scheduler;
                                    quenlit::ClipboardHistory history({}, setup->folder / "images", [] {
                                        return std::chrono::system_clock::now();
                                    });
                                    history.replace(setup->items, true);
                                    quenlit::HistoryFile file(scheduler, setup->files, history,
                                                              setup->folder / ClipboardStore::historyFileName,
                                                              quenlit::platform::Seconds(0.5));
                                    for (auto _ : state) {
                                        for (int i = 0; i < savesPerWrite; ++i)
                                            file.saveNow();
                                        state.PauseTiming();
                                        scheduler.runPending();  // the background half, not measured
                                        state.ResumeTiming();
                                    }
                                });

    // A letter no text has; a word that is there; bytes that are all common but never in that
    // order (the slowest kind); and a query in three-byte characters.
    for (const std::string query : {"zq", "then", "eeeeee", "€ 中"}) {
        quenlit::bench::addBudgeted(
            "ClipboardStore items(matching:)/" + name + "/\"" + query + "\"", filterBudget, 1,
            [setup, query](benchmark::State& state) {
                quenlit::fake::VirtualScheduler scheduler;
                auto store = setup->store(scheduler);
                store->startMonitoring();
                scheduler.runPending();  // the texts are lower-cased once, in the background, after loading
                // The search itself: the store answers a query it was just asked from memory.
                for (auto _ : state) {
                    auto found = quenlit::ClipboardHistory::filter(store->items(), query);
                    benchmark::DoNotOptimize(found);
                }
            });
    }
}

}  // namespace

int main(int argc, char** argv) {
    quenlit::bench::useProgramAllocatorSettings();
    registerSize("maximal", true, 30e-3, 2e-3, 10e-3);
    registerSize("typical", false, 2e-3, 2e-3, 50e-6);
    return quenlit::bench::runAll(argc, argv);
}
