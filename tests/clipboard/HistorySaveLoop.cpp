// Saves clipboard histories through the real file backend until it is killed: the test that runs
// it kills it at random moments and then checks what a fresh load finds. Every kind of change that
// lets go of an image file (the item limit, the image limit, removing one entry, removing all) is
// made over and over, each followed by a save.
//
// Usage: clipboard_save_loop DATA_FOLDER SEED

#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/fake/VirtualScheduler.h"
#include "backends/linux/PosixAtomicFile.h"
#include "clipboard/ClipboardStore.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

int main(int argc, char** argv) {
    using namespace quenlit;
    if (argc != 3) return 2;
    fake::VirtualScheduler scheduler;
    fake::FakePasteboard pasteboard;
    fake::FakeImageCodec codec;
    fake::FakeSecretStore secrets;
    linux_backend::PosixAtomicFile files;
    ClipboardStore::Options options;
    options.appDataDir = std::filesystem::path(argv[1]);
    options.maxItems = 6;
    options.maxImages = 3;
    ClipboardStore store({scheduler, pasteboard, codec, secrets, files}, options);
    store.startMonitoring();
    // The killer's clock starts now: starting up (slow under the sanitizers) is not saving.
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    std::mt19937 random(static_cast<std::mt19937::result_type>(std::strtoul(argv[2], nullptr, 10)));
    for (unsigned n = 0;; ++n) {
        switch (random() % 8) {
            case 0:
            case 1:
            case 2:
                store.capturedImage(fake::FakeImageCodec::pngBytes(1, 1, std::to_string(n)));
                break;
            case 3:
            case 4:
                store.capturedText("text " + std::to_string(n));
                break;
            case 5:
            case 6:
                if (!store.items().empty()) store.remove(store.items()[random() % store.items().size()]);
                break;
            default:
                store.removeAll();
                break;
        }
        // Each capture's save is due half a second after it; a removal saves at once.
        scheduler.advance(platform::Seconds(0.5));
    }
}
