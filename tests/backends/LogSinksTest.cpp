#include "backends/linux/LogSinks.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
    testing::TempDir dir_;
    std::filesystem::path root_ = dir_ / "log";
};

unsigned modeOf(const std::filesystem::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

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

// A full log becomes the one old copy: nothing between the two files is lost, the newest record is
// in the file at the path, neither grows past the cap, and both are the user's alone (also a file
// an earlier release made readable by all).
TEST_F(LogFileTest, AFullFileBecomesTheOldCopyAndBothStayPrivate) {
    auto file = root_ / "focus.log";
    auto old = root_ / "focus.log.1";
    std::filesystem::create_directories(root_);
    std::ofstream(file) << "earlier\n";
    ::chmod(file.c_str(), 0644);
    log::installSinks({std::make_shared<FileLogSink>(file)});
    const std::string filler(500, 'x');
    const int records = 3000;  // about 1.6 MB: one move
    for (int i = 0; i < records; ++i)
        log::write(std::to_string(i) + " " + filler);
    log::installSinks({});

    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(old), 0600u);
    EXPECT_LE(std::filesystem::file_size(file), FileLogSink::kMaxFileSize);
    EXPECT_LE(std::filesystem::file_size(old), FileLogSink::kMaxFileSize);
    std::ifstream in(old);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "earlier");
    int expected = 0;
    for (const auto& part : {old, file}) {
        std::ifstream lines(part);
        if (part == old) std::getline(lines, line);
        while (std::getline(lines, line)) {
            const auto at = line.find("Quenlit focus: ");
            ASSERT_NE(at, std::string::npos) << line;
            EXPECT_EQ(line.substr(at + 15), std::to_string(expected) + " " + filler);
            ++expected;
        }
    }
    EXPECT_EQ(expected, records);
}

}  // namespace
}  // namespace quenlit::linux_backend
