// The Wayland backend against a running wlroots compositor (sway), with real clients: wl-copy and
// wl-paste on the clipboard, foot as the window that receives typed keys. Skipped when no
// compositor is named by WAYLAND_DISPLAY.

#include "backends/wayland/DataControlPasteboard.h"
#include "backends/wayland/ForeignToplevelList.h"
#include "backends/wayland/VirtualKeyboardInput.h"
#include "backends/wayland/WaylandConnection.h"
#include "base/Log.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <wlr-data-control-unstable-v1-client-protocol.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace quenlit::wayland {
namespace {

using namespace std::chrono_literals;
using quenlit::testing::TempDir;

// Runs Qt's event loop until the condition holds; whether it did within the bound.
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// A client program, its standard output in a file; killed when destroyed if still running.
class Client {
  public:
    explicit Client(std::vector<std::string> arguments, std::filesystem::path output = "/dev/null")
        : output_(std::move(output)) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> argv;
        for (auto& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Client() {
        if (running()) {
            ::kill(pid_, SIGCONT);
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() {
        if (pid_ <= 0 || exited_) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            status_ = status;
        }
        return !exited_;
    }
    // Runs the event loop until the program exits; its exit status, or -1 past the bound.
    int finish(std::chrono::milliseconds bound = 5000ms) {
        if (!pumpUntil([this] { return !running(); }, bound)) return -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    void signal(int number) { ::kill(pid_, number); }
    std::string output() const { return readFile(output_); }

  private:
    pid_t pid_ = 0;
    bool exited_ = false;
    int status_ = 0;
    std::filesystem::path output_;
};

// A picture whose PNG is megabytes, far more than a pipe holds: it is written in many turns of
// the event loop.
std::string largePng() {
    QImage image(1200, 900, QImage::Format_ARGB32);
    std::uint32_t noise = 12345;
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            noise = noise * 1664525u + 1013904223u;
            row[x] = noise;
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

class WaylandBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Never the user's own session: these tests take its clipboard and type into its windows.
        if (std::getenv("WAYLAND_DISPLAY") == nullptr || std::getenv("QUENLIT_PRIVATE_COMPOSITOR") == nullptr)
            GTEST_SKIP() << "no private Wayland compositor (tests/support/with-sway.sh runs one)";
        connection = WaylandConnection::connect();
        ASSERT_TRUE(connection) << "the compositor did not answer";
        log = std::make_shared<log::MemorySink>();
        log::installSinks({log});
    }
    void TearDown() override { log::installSinks({}); }

    bool logged(std::string_view part) const {
        const auto lines = log->lines();
        return std::any_of(lines.begin(), lines.end(),
                           [part](const std::string& line) { return line.find(part) != std::string::npos; });
    }

    std::unique_ptr<WaylandConnection> connection;
    std::shared_ptr<log::MemorySink> log;
    TempDir dir;
};

TEST_F(WaylandBackendTest, TheProbeSeesTheWlrootsGlobals) {
    const auto globals = WaylandConnection::probe();
    ASSERT_TRUE(globals);
    EXPECT_GE(globals->seat, 1u);
    EXPECT_GE(globals->dataControl, 2u);
    EXPECT_EQ(globals->virtualKeyboard, 1u);
    EXPECT_GE(globals->foreignToplevel, 3u);
    EXPECT_EQ(*globals, connection->offered());
    EXPECT_EQ(connection->dataControlVersion(), 2u);
    EXPECT_FALSE(WaylandConnection::probe("quenlit-no-such-display"));
    // Without WAYLAND_DISPLAY there is no compositor to use, whatever sockets lie around.
    const std::string named = std::getenv("WAYLAND_DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    EXPECT_FALSE(WaylandConnection::probe());
    EXPECT_FALSE(WaylandConnection::connect());
    ::setenv("WAYLAND_DISPLAY", named.c_str(), 1);
}

TEST_F(WaylandBackendTest, ReadsTextAnotherProgramCopied) {
    DataControlPasteboard board(*connection);
    ASSERT_TRUE(board.canRead());
    ASSERT_TRUE(connection->roundtrip());
    const long before = board.changeCount();
    Client copy({"wl-copy", "--foreground", "--type", "text/plain;charset=utf-8", "grüße from wl-copy"});
    ASSERT_TRUE(copy.started());
    ASSERT_TRUE(pumpUntil([&] { return board.changeCount() > before && !board.types().empty(); }));
    EXPECT_EQ(board.types(), std::vector<std::string>{"text/plain;charset=utf-8"});
    EXPECT_EQ(board.string("text/plain;charset=utf-8"), "grüße from wl-copy");
}

TEST_F(WaylandBackendTest, WhatWeWriteIsPastedByOtherPrograms) {
    DataControlPasteboard board(*connection);
    ASSERT_TRUE(connection->roundtrip());
    const std::string png = largePng();
    ASSERT_GT(png.size(), 1u << 20);
    const long cleared = board.changeCount();
    ASSERT_TRUE(board.write({{"text/plain;charset=utf-8", "two kinds\nof content ✓"}, {"image/png", png}}));
    ASSERT_TRUE(pumpUntil([&] { return board.changeCount() > cleared; })) << "our own write is a change";
    // Read back from memory while the selection is ours.
    EXPECT_EQ(board.types(), (std::vector<std::string>{"text/plain;charset=utf-8", "image/png"}));
    EXPECT_EQ(board.data("image/png"), png);

    Client types({"wl-paste", "--list-types"}, dir.path() / "types");
    ASSERT_EQ(types.finish(), 0);
    for (const char* mime :
         {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT", "STRING", "image/png"})
        EXPECT_NE(types.output().find(std::string(mime) + "\n"), std::string::npos) << mime;

    Client text({"wl-paste", "--no-newline", "--type", "text/plain;charset=utf-8"}, dir.path() / "text");
    ASSERT_EQ(text.finish(), 0);
    EXPECT_EQ(text.output(), "two kinds\nof content ✓");
    Client latin1({"wl-paste", "--no-newline", "--type", "STRING"}, dir.path() / "latin1");
    ASSERT_EQ(latin1.finish(), 0);
    EXPECT_EQ(latin1.output(), "two kinds\nof content ?");
    // Mirrored, the same text is the primary selection too, which xterm and URxvt paste.
    EXPECT_TRUE(board.mirrorToPrimary());
    Client primary({"wl-paste", "--primary", "--no-newline", "--type", "text/plain;charset=utf-8"},
                   dir.path() / "primary");
    ASSERT_EQ(primary.finish(), 0);
    EXPECT_EQ(primary.output(), "two kinds\nof content ✓");
    Client image({"wl-paste", "--no-newline", "--type", "image/png"}, dir.path() / "image");
    ASSERT_EQ(image.finish(), 0);
    EXPECT_EQ(image.output(), png);

    // Another program's copy ends ours: reads go to it again.
    const long ours = board.changeCount();
    Client copy({"wl-copy", "--foreground", "after ours"});
    ASSERT_TRUE(pumpUntil([&] {
        return board.changeCount() > ours && board.string("text/plain;charset=utf-8") == "after ours";
    }));
    EXPECT_FALSE(board.mirrorToPrimary()) << "only our own entry is mirrored";
}

TEST_F(WaylandBackendTest, AnOwnerThatDoesNotAnswerIsAbandonedAfterASecond) {
    DataControlPasteboard board(*connection);
    ASSERT_TRUE(connection->roundtrip());
    const long before = board.changeCount();
    Client copy({"wl-copy", "--foreground", "never delivered"});
    ASSERT_TRUE(pumpUntil([&] { return board.changeCount() > before && !board.types().empty(); }));
    copy.signal(SIGSTOP);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(board.string("text/plain;charset=utf-8"));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 2500ms);
    EXPECT_TRUE(logged("from the clipboard's owner took over 1 s"));
    // Not asked again until the clipboard changes.
    EXPECT_EQ(board.types(), std::vector<std::string>{"x-quenlit-unresponsive-owner"});
    const auto again = std::chrono::steady_clock::now();
    EXPECT_FALSE(board.data("text/plain;charset=utf-8"));
    EXPECT_LT(std::chrono::steady_clock::now() - again, 200ms);
    copy.signal(SIGCONT);
}

TEST_F(WaylandBackendTest, AClearedClipboardIsAChange) {
    DataControlPasteboard board(*connection);
    ASSERT_TRUE(connection->roundtrip());
    Client copy({"wl-copy", "--foreground", "soon gone"});
    ASSERT_TRUE(pumpUntil([&] { return !board.types().empty(); }));
    const long before = board.changeCount();
    Client clear({"wl-copy", "--clear"});
    ASSERT_EQ(clear.finish(), 0);
    ASSERT_TRUE(pumpUntil([&] { return board.changeCount() > before && board.types().empty(); }));
}

TEST_F(WaylandBackendTest, ABrokenConnectionIsLoggedOnceAndLeavesEverythingInert) {
    DataControlPasteboard board(*connection);
    VirtualKeyboardInput input(*connection);
    auto source = input.createEventSource();
    ASSERT_TRUE(source);
    ASSERT_TRUE(connection->roundtrip());
    int disconnects = 0;
    auto watching = connection->disconnected.connect([&] { ++disconnects; });

    // A request the compositor refuses: one source set as the selection twice.
    auto* device =
        zwlr_data_control_manager_v1_get_data_device(connection->dataControlManager(), connection->seat());
    auto* used = zwlr_data_control_manager_v1_create_data_source(connection->dataControlManager());
    zwlr_data_control_source_v1_offer(used, "text/plain");
    zwlr_data_control_device_v1_set_selection(device, used);
    zwlr_data_control_device_v1_set_selection(device, used);
    EXPECT_FALSE(connection->roundtrip());
    EXPECT_TRUE(connection->broken());

    // Everything goes on without the compositor, saying so where it can.
    board.changeCount();
    board.types();
    EXPECT_FALSE(board.write({{"text/plain;charset=utf-8", "nowhere"}}));
    auto key = source->keyboardEvent('v', true);
    ASSERT_TRUE(key);
    EXPECT_FALSE(source->post(*key));
    EXPECT_FALSE(input.createEventSource());
    ForeignToplevelList windows(*connection);
    EXPECT_FALSE(windows.available());
    connection->flush();
    connection->dispatchAvailable();
    EXPECT_FALSE(connection->roundtrip());

    EXPECT_EQ(disconnects, 1);
    const auto lines = log->lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("connection to the compositor broke") != std::string::npos;
                            }),
              1);
    zwlr_data_control_source_v1_destroy(used);
    zwlr_data_control_device_v1_destroy(device);
}

class WaylandWindowTest : public WaylandBackendTest {
  protected:
    // A foot terminal whose shell writes what it reads to `file`, listed and focused.
    std::unique_ptr<Client> startTerminal(ForeignToplevelList& windows, const std::filesystem::path& file,
                                          std::uint64_t& handle) {
        const std::size_t before = windows.list().size();
        auto terminal = std::make_unique<Client>(std::vector<std::string>{
            "foot", "--app-id", "foot", "-e", "sh", "-c", "stty -echo; cat > '" + file.string() + "'"});
        const bool shown = pumpUntil(
            [&] {
                const auto all = windows.list();
                if (all.size() <= before) return false;
                handle = all.back().handle;
                return all.back().appId == "foot" && all.back().activated;
            },
            10000ms);
        if (!shown) return nullptr;
        return terminal;
    }
};

TEST_F(WaylandWindowTest, ListsActivatesAndTypesIntoATerminal) {
    ForeignToplevelList windows(*connection);
    ASSERT_TRUE(windows.available());
    // The keyboard first: a seat without keyboards (a headless compositor) gains one with it, and
    // the terminals must see it from their start.
    VirtualKeyboardInput input(*connection);
    ASSERT_TRUE(connection->roundtrip());
    int changes = 0;
    auto watching = windows.changed.connect([&] { ++changes; });
    const auto typed = dir.path() / "typed";
    std::uint64_t first = 0;
    auto terminal = startTerminal(windows, typed, first);
    ASSERT_TRUE(terminal) << "foot did not open";
    EXPECT_GT(changes, 0);

    // A second window takes the focus; activating the first brings it back.
    std::uint64_t second = 0;
    auto other = startTerminal(windows, dir.path() / "other", second);
    ASSERT_TRUE(other);
    ASSERT_NE(first, second);
    ASSERT_TRUE(windows.activate(first));
    const auto activated = [&](std::uint64_t handle) {
        for (const Toplevel& t : windows.list()) {
            if (t.handle == handle) return t.activated;
        }
        return false;
    };
    ASSERT_TRUE(pumpUntil([&] { return activated(first) && !activated(second); }));

    input.focusedAppId = [&] {
        for (const Toplevel& t : windows.list()) {
            if (t.activated) return t.appId;
        }
        return std::string();
    };
    DataControlPasteboard board(*connection);
    ASSERT_TRUE(board.write({{"text/plain;charset=utf-8", "pasted"}}));

    auto source = input.createEventSource();
    ASSERT_TRUE(source);
    platform::InputEvent text;
    text.type = platform::EventType::keyDown;
    text.text = u"Hi, there! ";
    EXPECT_TRUE(source->post(text));
    // Control+V is the terminal's paste key, Control+Shift+V; foot asks us for the text.
    auto paste = source->keyboardEvent('v', true);
    ASSERT_TRUE(paste);
    paste->modifiers = platform::Modifiers{.control = true};
    EXPECT_TRUE(source->post(*paste));
    auto pasteUp = source->keyboardEvent('v', false);
    EXPECT_TRUE(source->post(*pasteUp));
    for (bool down : {true, false}) {
        auto enter = source->keyboardEvent(platform::keysym::returnKey, down);
        ASSERT_TRUE(enter);
        EXPECT_TRUE(source->post(*enter));
    }
    EXPECT_TRUE(pumpUntil([&] { return readFile(typed) == "Hi, there! pasted\n"; }))
        << "typed: \"" << readFile(typed) << "\"";
    // A character the keymap cannot type fails the post.
    platform::InputEvent untypable;
    untypable.type = platform::EventType::keyDown;
    untypable.text = u"\u4e2d";
    EXPECT_FALSE(source->post(untypable));
}

}  // namespace
}  // namespace quenlit::wayland

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
