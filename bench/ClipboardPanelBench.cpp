// The clipboard panel over the largest history (LargestClipboardHistory.h), loaded from its file as
// the program loads it, drawn by Qt on its offscreen platform: typing a query into the search
// field, each keystroke until the list's rows are rebuilt and painted.
//  - with the texts already lower-cased, as after the background pass that follows loading;
//  - the first keystroke straight after loading, before the background pass: the texts are
//    searched as they are, not lowered first. Each run loads a store of its own.

#include "Budget.h"
#include "LargestClipboardHistory.h"

#include "backends/fake/FakeAtomicFile.h"
#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/fake/VirtualScheduler.h"
#include "clipboard/ClipboardStore.h"
#include "clipboard/ClipboardView.h"
#include "ui/ClipboardPanelView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

namespace {

namespace fs = std::filesystem;
using namespace quenlit;

// Typed a character at a time; every text has some of its prefixes, most texts the whole word.
constexpr const char* kWord = "then";

const auto kNow = std::chrono::system_clock::now();

struct Folder {
    fs::path path;
    Folder() {
        std::random_device seed;
        path = fs::temp_directory_path() / ("quenlit-panel-bench-" + std::to_string(seed()));
        if (!bench::writeLargestHistory(path, fake::FakeImageCodec::pngBytes(1280, 800), kNow)) {
            std::fprintf(stderr, "could not write the history into %s\n", path.c_str());
            std::exit(1);
        }
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// The store loaded from the history file, the panel's model and its view, shown.
struct Panel {
    fake::VirtualScheduler scheduler;
    fake::FakePasteboard pasteboard;
    fake::FakeImageCodec codec;
    fake::FakeSecretStore secrets;
    fake::FakeAtomicFile files;
    ClipboardThumbnailCache thumbnails;
    NotificationCenter notifications;
    NavigationState navigation;
    ClipboardActionsModel menu;
    std::unique_ptr<ClipboardStore> store;
    std::unique_ptr<ClipboardView> model;
    std::unique_ptr<ui::ClipboardPanelView> view;

    // `lowered`: lets the background pass after loading lower-case the texts first.
    Panel(const fs::path& folder, bool lowered) {
        ClipboardStore::Options options;
        options.appDataDir = folder;
        store = std::make_unique<ClipboardStore>(
            ClipboardStore::Services{scheduler, pasteboard, codec, secrets, files}, options);
        store->startMonitoring();
        if (lowered) scheduler.runPending();
        model = std::make_unique<ClipboardView>(
            *store, menu, navigation, [](const ClipboardItem&) {}, [] {},
            ClipboardView::Services{scheduler, notifications, codec, [] { return kNow; }, &thumbnails});
        view = std::make_unique<ui::ClipboardPanelView>(*model, menu);
        view->show();
        QCoreApplication::processEvents();
        model->viewDidAppear();
        QCoreApplication::processEvents();
        // The background pass would lower-case the texts too.
        if (lowered) settle();
    }

    // The row pictures decode in the background: let them, and draw them.
    void settle() {
        QCoreApplication::processEvents();
        scheduler.runPending();
        QCoreApplication::processEvents();
    }

    // One key into the search field, then the event loop's turn that redraws the panel: the
    // model's changes arrive as one queued refresh, which updates the list, which Qt paints on the
    // update request that follows.
    void type(QChar c) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(view->searchField(), &key);
        QCoreApplication::processEvents();
    }

    void clearQuery() {
        model->setQuery("");
        settle();
    }

    // The texts the list painted last, to tell whether a keystroke was drawn.
    std::vector<QString> drawn() const {
        std::vector<QString> out;
        for (const auto& d : view->drawnTexts())
            out.push_back(d.text);
        return out;
    }
};

// A keystroke that is drawn shows something else than before; the check fails when painting
// waited for a later turn of the event loop than the one measured.
bool keystrokesArePainted(Panel& panel) {
    panel.clearQuery();
    const auto before = panel.drawn();
    for (const char c : std::string("zqzq"))
        panel.type(QChar(c));
    const auto noMatch = panel.drawn();
    panel.clearQuery();
    const auto after = panel.drawn();
    return !before.empty() && noMatch != before && after == before;
}

}  // namespace

int main(int argc, char** argv) {
    bench::useProgramAllocatorSettings();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The offscreen platform cannot cut the panel's rounded corners, and says so at every showing.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (!message.contains(QLatin1String("window masks")))
            std::fprintf(stderr, "qt(%d): %s\n", static_cast<int>(type), qPrintable(message));
    });
    QApplication application(argc, argv);
    Folder folder;

    Panel panel(folder.path, true);
    if (!keystrokesArePainted(panel)) {
        std::fprintf(stderr, "a keystroke is not painted within one turn of the event loop\n");
        return 1;
    }
    std::printf("largest history: %zu entries, %zu images; rows for each prefix of \"%s\":",
                panel.store->items().size(), panel.store->history().imageCount(), kWord);
    for (std::size_t n = 1; n <= std::string(kWord).size(); ++n)
        std::printf(" %zu", panel.store->items(std::string(kWord, n)).size());
    std::printf("\n");

    const std::string word = kWord;
    bench::addBudgeted("ClipboardPanelView keystroke/largest history", 4e-3, static_cast<int>(word.size()),
                       [&panel, word](benchmark::State& state) {
                           for (auto _ : state) {
                               for (const char c : word)
                                   panel.type(QChar(c));
                               state.PauseTiming();
                               panel.clearQuery();
                               state.ResumeTiming();
                           }
                       });

    // Its own panel for every run, straight after loading.
    bench::addBudgetedSingleRuns("ClipboardPanelView first keystroke after loading/largest history", 16e-3,
                                 [&folder](benchmark::State& state) {
                                     for (auto _ : state) {
                                         state.PauseTiming();
                                         auto fresh = std::make_unique<Panel>(folder.path, false);
                                         state.ResumeTiming();
                                         fresh->type(QChar(kWord[0]));
                                         state.PauseTiming();
                                         if (fresh->drawn().empty()) state.SkipWithError("nothing was drawn");
                                         fresh.reset();
                                         state.ResumeTiming();
                                     }
                                 });

    return bench::runAll(argc, argv);
}
