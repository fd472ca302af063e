// A burst of copies against the X11 clipboard capture, measured inside the process: 200 texts
// copied with xclip 50 ms apart, each by a new owner that leaves when the next one copies. Prints
// how many the history recorded and how long each announcement held the main thread (from the
// pasteboard's announcement to the end of its capture). Run on a display (desktop_bench.sh runs
// it on its private X server):
//   clipboard_burst_probe [COPIES] [INTERVAL_MS]
// Output: "<recorded> <copies> <longest ms> <median ms> <95th percentile ms> <announcements>".

#include "backends/fake/FakeAtomicFile.h"
#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/linux/QtScheduler.h"
#include "backends/x11/SelectionReader.h"
#include "backends/x11/X11Pasteboard.h"
#include "clipboard/ClipboardStore.h"

#include <QGuiApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace quenlit;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const int copies = argc > 1 ? std::atoi(argv[1]) : 200;
    const int intervalMs = argc > 2 ? std::atoi(argv[2]) : 50;
    QGuiApplication app(argc, argv);
    auto reader = x11::SelectionReader::open(nullptr, "CLIPBOARD");
    if (!reader) {
        std::fprintf(stderr, "clipboard_burst_probe: no X display with XFixes\n");
        return 2;
    }
    x11::X11Pasteboard pasteboard(std::move(reader));
    linux_backend::QtScheduler scheduler;
    fake::FakeImageCodec codec;
    fake::FakeSecretStore secrets;
    fake::FakeAtomicFile files;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "quenlit-burst-probe";
    ClipboardStore::Options options;
    options.appDataDir = folder;
    options.persistToDisk = false;
    ClipboardStore store({scheduler, pasteboard, codec, secrets, files}, options);

    // Connected before and after the capture's own slot, which monitoring connects.
    Clock::time_point announced;
    std::vector<double> blocks;
    Connection before =
        pasteboard.changed.connect([&](platform::PasteboardChange) { announced = Clock::now(); });
    store.startMonitoring();
    Connection after = pasteboard.changed.connect([&](platform::PasteboardChange) {
        blocks.push_back(std::chrono::duration<double, std::milli>(Clock::now() - announced).count());
    });

    std::atomic<bool> done = false;
    std::thread copier([&] {
        const auto start = Clock::now();
        for (int i = 0; i < copies; ++i) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(intervalMs) * i);
            const std::string command =
                "printf 'burst copy " + std::to_string(i) + "' | xclip -selection clipboard";
            if (std::system(command.c_str()) != 0) std::fprintf(stderr, "xclip failed\n");
        }
        done = true;
    });
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (!done) return;
        check.stop();
        // Late announcements and the fallback poll have 2.5 s to come in.
        QTimer::singleShot(2500, [&] { app.quit(); });
    });
    check.start(50);
    app.exec();
    copier.join();

    int recorded = 0;
    for (const ClipboardItem& item : store.items())
        recorded += item.text().rfind("burst copy ", 0) == 0 ? 1 : 0;
    // Taking the clipboard lets the last xclip go.
    store.copyToPasteboard(store.items().front());
    store.stopMonitoring();

    std::vector<double> sorted = blocks;
    std::sort(sorted.begin(), sorted.end());
    const double longest = sorted.empty() ? 0 : sorted.back();
    const double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
    const double p95 = sorted.empty() ? 0 : sorted[sorted.size() * 95 / 100];
    std::printf("%d %d %.2f %.2f %.2f %zu\n", recorded, copies, longest, median, p95, blocks.size());
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
