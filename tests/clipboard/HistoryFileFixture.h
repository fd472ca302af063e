#pragma once

// What the history file's tests share: a store on the in-memory desktop whose history lives in a
// fresh folder, a history and its file on their own, a log to read back, and history documents written by
// hand.

#include "backends/fake/FakeAtomicFile.h"
#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/fake/VirtualScheduler.h"
#include "backends/linux/OpenSslCipher.h"
#include "base/Log.h"
#include "clipboard/ClipboardHistory.h"
#include "clipboard/ClipboardStore.h"
#include "clipboard/HistoryFile.h"
#include "support/TempDir.h"

#include "FakeClipboardDesktop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace quenlit::historytest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline unsigned modeOf(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

inline std::string itemJson(const std::string& id, const std::string& rest,
                            const std::string& date = "2024-05-01T09:30:00Z") {
    return "{\"createdAt\":\"" + date + "\",\"id\":\"" + id + "\"" + rest + "}";
}
inline std::string textJson(int n, const std::string& text) {
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
    return itemJson(id, ",\"kind\":\"text\",\"text\":\"" + text + "\"");
}
inline std::string imageJson(int n, const std::string& path) {
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-9000-%012d", n);
    return itemJson(id, ",\"imagePath\":\"" + path + "\",\"kind\":\"image\",\"text\":\"\"");
}
inline std::string array(const std::vector<std::string>& objects) {
    std::string out = "[";
    for (const auto& o : objects)
        out += (out.size() > 1 ? "," : "") + o;
    return out + "]";
}

class ClipboardPersistenceTest : public ::testing::Test, protected testing::FakeClipboardDesktop {
  protected:
    void SetUp() override { log::installSinks({sink}); }
    void TearDown() override { log::installSinks({}); }

    ClipboardStore::Options options() {
        ClipboardStore::Options o;
        o.appDataDir = data;
        o.wallClock = [this] { return clock; };
        return o;
    }
    std::unique_ptr<ClipboardStore> makeStore(ClipboardStore::Options o,
                                              platform::AtomicFile* fileService = nullptr) {
        return std::make_unique<ClipboardStore>(
            ClipboardStore::Services{scheduler, pasteboard, codec, secrets,
                                     fileService ? *fileService : files, storeCipher},
            std::move(o));
    }
    std::unique_ptr<ClipboardStore> makeStore() { return makeStore(options()); }
    // A history and its file without a store around them, saved by hand.
    struct OwnFile {
        OwnFile(ClipboardPersistenceTest& test, platform::Scheduler& scheduler, platform::AtomicFile& files)
            : list({}, test.data / "images", [&test] { return test.clock; }),
              file(scheduler, files, list, test.history, platform::Seconds(0.5)) {}
        ClipboardHistory list;
        HistoryFile file;
    };
    std::unique_ptr<OwnFile> makeFile() { return std::make_unique<OwnFile>(*this, scheduler, files); }
    // What the history logged: every line but the one each start of monitoring gives (its own
    // tests read that one).
    std::vector<std::string> logged() const {
        std::vector<std::string> out;
        for (const auto& l : sink->lines()) {
            if (l.find("clipboard: monitoring started") == std::string::npos) out.push_back(l);
        }
        return out;
    }
    std::vector<std::string> loggedContaining(const std::string& part) const {
        std::vector<std::string> out;
        for (const auto& l : logged()) {
            if (l.find(part) != std::string::npos) out.push_back(l);
        }
        return out;
    }
    static std::string line(const std::string& message) { return std::string(log::kPrefix) + message; }

    linux_backend::OpenSslCipher cipher;
    platform::Cipher* storeCipher = &cipher;  // what the stores made here decrypt with
    testing::TempDir dir;
    fs::path data = dir / "data";
    fs::path history = data / "clipboard-history.json";
    fs::path legacy = data / "clipboard-history.enc";
    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    std::chrono::system_clock::time_point clock =
        std::chrono::sys_days{std::chrono::May / 1 / 2024} + 9h + 30min + 700ms;
};

}  // namespace quenlit::historytest
