#include "backends/linux/LibsecretStore.h"
#include "backends/linux/PosixProcessRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quenlit::linux_backend {
namespace {

using namespace std::chrono_literals;

// secret-tool stores and looks items up on its own, so the store is checked against an
// independent writer and reader.
platform::ProcessOutcome shell(const std::string& script) {
    PosixProcessRunner runner;
    platform::RunLimits limits;
    limits.timeout = 10s;
    return runner.run("/bin/sh", {"-c", script}, limits);
}

// A printf format that writes `bytes` exactly, every byte as an octal escape.
std::string printfFormat(const std::string& bytes) {
    std::string format;
    for (unsigned char c : bytes) {
        char escape[6];
        std::snprintf(escape, sizeof escape, "\\%03o", c);
        format += escape;
    }
    return format;
}

bool storeWithSecretTool(const std::string& service, const std::string& account, const std::string& secret) {
    return shell("printf '" + printfFormat(secret) + "' | secret-tool store --label=quenlit-test service '" +
                 service + "' account '" + account + "'")
               .status == 0;
}

bool secretToolFinds(const std::string& service, const std::string& account) {
    return shell("secret-tool lookup service '" + service + "' account '" + account + "' >/dev/null")
               .status == 0;
}

// Tests of a real Secret Service run inside tests/support/with-secret-service.sh, which starts a
// private one (CTest's libsecret_store). Elsewhere they are skipped, so that a plain run neither
// needs a Secret Service nor writes into the user's own keyring; inside the wrapper a service that
// does not answer is a failure.
class LibsecretStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("QUENLIT_SECRET_SERVICE_HOME") == nullptr) {
            GTEST_SKIP() << "no private Secret Service: run through tests/support/with-secret-service.sh";
        }
        ASSERT_TRUE(storeWithSecretTool("com.quenlit.test.probe", "probe", "x"))
            << "the private Secret Service does not answer";
        shell("secret-tool clear service com.quenlit.test.probe account probe");
    }
    void TearDown() override { shell("secret-tool clear service com.quenlit.test"); }

    LibsecretStore store;
};

// A 32-byte key with NUL bytes, line breaks, quotes, printf directives and bytes that are not UTF-8.
constexpr char kKeyBytes[] =
    "\x00\x01\n\r\x7f\x80\xff\xfe'\"\\%sq\x00\x00\xc3\x28\xa0\xa1\xe2\x82\x28\t"
    "\x1b\x9f\xc0\xc1\xf5\xf8\x00\xee";
static_assert(sizeof kKeyBytes - 1 == 32);
const std::string kBinaryKey(kKeyBytes, sizeof kKeyBytes - 1);

TEST_F(LibsecretStoreTest, ReadsABinaryKeyByteForByteAndRemovesIt) {
    ASSERT_TRUE(storeWithSecretTool("com.quenlit.test", "history-aes-key", kBinaryKey));

    EXPECT_EQ(store.read("com.quenlit.test", "history-aes-key"), kBinaryKey);

    store.remove("com.quenlit.test", "history-aes-key");
    EXPECT_EQ(store.read("com.quenlit.test", "history-aes-key"), std::nullopt);
    EXPECT_FALSE(secretToolFinds("com.quenlit.test", "history-aes-key"));
}

TEST_F(LibsecretStoreTest, AMissingItemGivesNothingAndRemovingItIsHarmless) {
    EXPECT_EQ(store.read("com.quenlit.test", "never-stored"), std::nullopt);
    store.remove("com.quenlit.test", "never-stored");
    EXPECT_EQ(store.read("com.quenlit.test", "never-stored"), std::nullopt);
}

TEST_F(LibsecretStoreTest, BothAttributesNameTheItem) {
    ASSERT_TRUE(storeWithSecretTool("com.quenlit.test", "first", "one"));
    ASSERT_TRUE(storeWithSecretTool("com.quenlit.test", "second", "two"));
    ASSERT_TRUE(storeWithSecretTool("com.quenlit.test.other", "first", "three"));

    EXPECT_EQ(store.read("com.quenlit.test", "first"), "one");
    EXPECT_EQ(store.read("com.quenlit.test", "second"), "two");
    EXPECT_EQ(store.read("com.quenlit.test.other", "first"), "three");

    store.remove("com.quenlit.test", "first");
    EXPECT_EQ(store.read("com.quenlit.test", "first"), std::nullopt);
    EXPECT_EQ(store.read("com.quenlit.test", "second"), "two");
    EXPECT_EQ(store.read("com.quenlit.test.other", "first"), "three");
    shell("secret-tool clear service com.quenlit.test.other");
}

// Attribute values travel as NUL-terminated UTF-8: a name with a NUL must not reach the item named
// by its first part, and a name that is not UTF-8 names nothing.
TEST_F(LibsecretStoreTest, NamesThatCannotBeAttributeValuesNameNoItem) {
    ASSERT_TRUE(storeWithSecretTool("com.quenlit.test", "key", "secret"));
    const std::string withNul("com.quenlit.test\0.evil", 22);
    const std::string notUtf8("com.quenlit.test\xff");

    EXPECT_EQ(store.read(withNul, "key"), std::nullopt);
    EXPECT_EQ(store.read(notUtf8, "key"), std::nullopt);
    EXPECT_EQ(store.read("com.quenlit.test", std::string("key\0", 4)), std::nullopt);
    store.remove(withNul, "key");
    store.remove("com.quenlit.test", notUtf8);

    EXPECT_EQ(store.read("com.quenlit.test", "key"), "secret");
}

// Without a Secret Service the store answers nothing, and does so in bounded time even when the
// bus never replies. These run only outside the private service (a process keeps the first session
// bus it reaches), before any test reaches a real one.
class SecretServiceUnreachableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("QUENLIT_SECRET_SERVICE_HOME") != nullptr) GTEST_SKIP() << "a Secret Service runs";
        if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS")) saved_ = address;
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", saved_->c_str(), 1);
        } else {
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
    }

  private:
    std::optional<std::string> saved_;
};

TEST_F(SecretServiceUnreachableTest, NoBusGivesNothing) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quenlit-bus", 1);
    LibsecretStore store;
    EXPECT_EQ(store.read("com.quenlit.test", "key"), std::nullopt);
    store.remove("com.quenlit.test", "key");
}

TEST_F(SecretServiceUnreachableTest, ABusThatNeverAnswersIsGivenUpOn) {
    // A socket that takes connections into its backlog and never says a word.
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quenlit-silent-bus-" + std::to_string(::getpid())))
            .string();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ::unlink(path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);

    LibsecretStore store(200ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(store.read("com.quenlit.test", "key"), std::nullopt);
    store.remove("com.quenlit.test", "key");
    // Two calls of 0.2 s each; D-Bus on its own would wait 25 s per call.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);

    ::close(listener);
    ::unlink(path.c_str());
}

}  // namespace
}  // namespace quenlit::linux_backend
