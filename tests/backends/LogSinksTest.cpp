#include "backends/linux/LogSinks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace quenlit::linux_backend {
namespace {

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class LogFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("quenlit-log-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::remove_all(root_);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    std::filesystem::path root_;
};

TEST_F(LogFileTest, FirstRecordCreatesFolderAndFileLaterOnesAppend) {
    using namespace std::chrono;
    auto file = root_ / "state" / "quenlit" / "focus.log";
    const sys_days day = year{2026} / December / 6;
    FileLogSink sink(file, [&] { return day + 13h + 2min + 42s; });
    log::installSinks({std::make_shared<FileLogSink>(sink)});
    log::write("zoxide: no match");
    log::write("");
    log::write("a\nb");
    log::installSinks({});
    EXPECT_EQ(readFile(file),
              "2026-12-06T13:02:42Z Quenlit focus: zoxide: no match\n"
              "2026-12-06T13:02:42Z Quenlit focus: \n"
              "2026-12-06T13:02:42Z Quenlit focus: a\nb\n");
}

TEST_F(LogFileTest, UnwritableFolderLosesTheRecordButNotTheOtherSinks) {
    std::filesystem::create_directories(root_);
    std::ofstream(root_ / "blocker") << "a file where the folder should be";
    auto memory = std::make_shared<log::MemorySink>();
    log::installSinks({std::make_shared<FileLogSink>(root_ / "blocker" / "quenlit" / "focus.log"), memory});
    log::write("clipboard: saved");
    log::installSinks({});
    EXPECT_EQ(memory->lines(), std::vector<std::string>{"Quenlit focus: clipboard: saved"});
}

TEST_F(LogFileTest, ConcurrentWritersNeverMixRecords) {
    auto file = root_ / "focus.log";
    log::installSinks({std::make_shared<FileLogSink>(file)});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                log::write("thread " + std::to_string(t) + " " + std::string(300, 'x'));
        });
    }
    for (auto& th : threads)
        th.join();
    log::installSinks({});
    std::ifstream in(file);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        EXPECT_NE(line.find("Quenlit focus: thread "), std::string::npos);
        EXPECT_EQ(line.substr(line.size() - 300), std::string(300, 'x'));
    }
    EXPECT_EQ(count, 200);
}

}  // namespace
}  // namespace quenlit::linux_backend
