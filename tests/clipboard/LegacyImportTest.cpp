// The one-time import of an earlier release's encrypted history, with the in-memory secret store
// and against a real Secret Service.

#include "backends/linux/LibsecretStore.h"
#include "backends/linux/PosixProcessRunner.h"
#include "clipboard/HistoryFileFixture.h"
#include "clipboard/HistoryJson.h"
#include "clipboard/LegacyHistory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstdlib>

namespace quenlit {
namespace {

using namespace historytest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

const std::string kKey = "0123456789abcdef0123456789ABCDEF";
const std::string kNonce = "nonce-twelve";

// An earlier release's encrypted history, sealed here with OpenSSL directly.
std::string seal(const std::string& plaintext, const std::string& key = kKey,
                 const std::string& magic = "QUENLT01") {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr);
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, 12, nullptr);
    EVP_EncryptInit_ex(ctx, nullptr, nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                       reinterpret_cast<const unsigned char*>(kNonce.data()));
    std::string cipher(plaintext.size() + 16, '\0');
    int n = 0, m = 0;
    auto* out = reinterpret_cast<unsigned char*>(cipher.data());
    EVP_EncryptUpdate(ctx, out, &n, reinterpret_cast<const unsigned char*>(plaintext.data()),
                      static_cast<int>(plaintext.size()));
    EVP_EncryptFinal_ex(ctx, out + n, &m);
    cipher.resize(static_cast<std::size_t>(n + m));
    std::string tag(16, '\0');
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, tag.data());
    EVP_CIPHER_CTX_free(ctx);
    return magic + kNonce + cipher + tag;
}

// ---- The legacy encrypted history.

class LegacyMigrationTest : public ClipboardPersistenceTest {
  protected:
    void SetUp() override {
        ClipboardPersistenceTest::SetUp();
        plaintext =
            array({textJson(1, "secret one"), imageJson(2, "/old/images/A.png"), textJson(3, "three")});
    }
    std::string plaintext;
};

TEST_F(LegacyMigrationTest, TheLegacyFileAndKeyGoOnlyAfterTheMigratedHistoryIsSaved) {
    testing::writeFile(legacy, seal(plaintext));
    secrets.put("com.quenlit.app.clipboard", "history-aes-key", kKey);
    auto store = makeStore();
    store->startMonitoring();
    ASSERT_EQ(store->items().size(), 3u);
    EXPECT_EQ(store->items()[0].text(), "secret one");
    EXPECT_TRUE(fs::exists(legacy)) << "not before the save";
    scheduler.runPending();
    EXPECT_FALSE(fs::exists(legacy));
    EXPECT_FALSE(secrets.has("com.quenlit.app.clipboard", "history-aes-key"));
    EXPECT_EQ(historyJson::readFile(files, history).items, store->items());
    EXPECT_THAT(logged(), ElementsAre(StartsWith(line("clipboard: persisted 3 items (")),
                                      line("clipboard: migrated legacy encrypted history (3 items)")));
}

TEST_F(LegacyMigrationTest, AFailedSaveKeepsBothUntilALaterSaveSucceeds) {
    testing::writeFile(legacy, seal(plaintext));
    secrets.put("com.quenlit.app.clipboard", "history-aes-key", kKey);
    files.writeError = "Read-only file system";
    auto store = makeStore();
    store->startMonitoring();
    scheduler.runPending();
    EXPECT_TRUE(fs::exists(legacy));
    EXPECT_TRUE(secrets.has("com.quenlit.app.clipboard", "history-aes-key"));
    EXPECT_THAT(secrets.removals, IsEmpty());
    EXPECT_THAT(loggedContaining("migrated"), IsEmpty());

    files.writeError.reset();
    store->capturedText("copied later");
    scheduler.advance(1s);
    EXPECT_FALSE(fs::exists(legacy));
    EXPECT_FALSE(secrets.has("com.quenlit.app.clipboard", "history-aes-key"));
    EXPECT_THAT(loggedContaining("migrated"),
                ElementsAre(line("clipboard: migrated legacy encrypted history (3 items)")));
    EXPECT_EQ(historyJson::readFile(files, history).items.size(), 4u);
}

TEST_F(LegacyMigrationTest, FailuresLeaveTheFileAndTheKeyInPlace) {
    std::string tampered = seal(plaintext);
    tampered[30] ^= 1;
    std::string badTag = seal(plaintext);
    badTag.back() ^= 1;
    struct Case {
        std::string name;
        std::string file;
        std::optional<std::string> key;
        std::string log;
        bool cipher = true;
    } cases[] = {
        {"no cipher", seal(plaintext), kKey,
         "clipboard: legacy migration failed — no AES-GCM implementation is available", false},
        {"no key", seal(plaintext), std::nullopt,
         "clipboard: legacy key missing from Keychain — cannot migrate"},
        {"short key", seal(plaintext), kKey.substr(1),
         "clipboard: legacy key missing from Keychain — cannot migrate"},
        {"long key", seal(plaintext), kKey + "!",
         "clipboard: legacy key missing from Keychain — cannot migrate"},
        {"magic alone", "QUENLT01", kKey, "clipboard: legacy migration failed — the file is corrupt"},
        {"other magic", seal(plaintext, kKey, "QUENLT02"), kKey,
         "clipboard: legacy migration failed — the file is corrupt"},
        {"empty file", "", kKey, "clipboard: legacy migration failed — the file is corrupt"},
        {"box too short", "QUENLT01" + std::string(27, 'x'), kKey,
         "clipboard: legacy migration failed — the encrypted data is malformed"},
        {"wrong key", seal(plaintext, std::string(32, 'k')), kKey,
         "clipboard: legacy migration failed — authentication failed"},
        {"changed ciphertext", tampered, kKey, "clipboard: legacy migration failed — authentication failed"},
        {"changed tag", badTag, kKey, "clipboard: legacy migration failed — authentication failed"},
        {"not a history", seal("{\"not\":\"a list\"}"), kKey,
         "clipboard: legacy migration failed — the history is not a list"},
        {"bad item", seal(array({textJson(1, "x"), itemJson("bad", ",\"text\":\"t\"")})), kKey,
         "clipboard: legacy migration failed — item 2: malformed UUID"},
    };
    for (const auto& c : cases) {
        testing::writeFile(legacy, c.file);
        secrets.secrets.clear();
        if (c.key) secrets.put("com.quenlit.app.clipboard", "history-aes-key", *c.key);
        sink->clear();
        storeCipher = c.cipher ? &cipher : nullptr;
        auto store = makeStore();
        store->startMonitoring();
        scheduler.advance(1s);
        EXPECT_THAT(store->items(), IsEmpty()) << c.name;
        ASSERT_EQ(logged().size(), 1u) << c.name;
        EXPECT_THAT(logged()[0], StartsWith(line(c.log))) << c.name;
        EXPECT_EQ(readAll(legacy), c.file) << c.name;
        EXPECT_EQ(secrets.has("com.quenlit.app.clipboard", "history-aes-key"), c.key.has_value()) << c.name;
        EXPECT_FALSE(fs::exists(history)) << c.name;
    }
    EXPECT_THAT(secrets.removals, IsEmpty());
}

TEST_F(LegacyMigrationTest, OnlyTheDefaultHistoryPathMigratesAndOnlyWithoutAJsonHistory) {
    testing::writeFile(legacy, seal(plaintext));
    secrets.put("com.quenlit.app.clipboard", "history-aes-key", kKey);
    auto o = options();
    o.storagePath = dir / "elsewhere/history.json";
    auto elsewhere = makeStore(o);
    elsewhere->startMonitoring();
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: no history file yet at " +
                                           (dir / "elsewhere/history.json").string())));
    EXPECT_THAT(secrets.reads, IsEmpty());

    testing::writeFile(history, array({textJson(9, "current")}));
    sink->clear();
    auto store = makeStore();
    store->startMonitoring();
    scheduler.runPending();
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: loaded 1 items from disk")));
    EXPECT_TRUE(fs::exists(legacy));
    EXPECT_THAT(secrets.reads, IsEmpty());
}

TEST_F(LegacyMigrationTest, TheKeyIsLookedUpFirstAndAnOversizedFileIsNotRead) {
    auto o = options();
    o.maxItems = 1;
    o.maxTextLength = 10;
    const std::uintmax_t limit = historyJson::largestFileSize(1, 10) + 36;
    const std::string big = seal(array({textJson(1, std::string(limit, 'x'))}));
    testing::writeFile(legacy, big);
    auto store = makeStore(o);
    store->startMonitoring();
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: legacy key missing from Keychain — cannot migrate")));
    EXPECT_THAT(files.read, IsEmpty()) << "without the key the file is not read";

    secrets.put("com.quenlit.app.clipboard", "history-aes-key", kKey);
    sink->clear();
    auto keyed = makeStore(o);
    keyed->startMonitoring();
    scheduler.advance(1s);
    EXPECT_THAT(logged(),
                ElementsAre(line("clipboard: legacy migration failed — the file clipboard-history.enc is " +
                                 std::to_string(big.size()) + " bytes, larger than any history can be (" +
                                 std::to_string(limit) + " bytes)")));
    EXPECT_THAT(files.read, IsEmpty());
    EXPECT_EQ(readAll(legacy), big);
    EXPECT_TRUE(secrets.has("com.quenlit.app.clipboard", "history-aes-key"));
}

TEST(LegacyBlobTest, OpensTheCombinedSealedBox) {
    linux_backend::OpenSslCipher cipher;
    const std::string history = array({textJson(1, "x")});
    auto opened = legacyHistory::decryptLegacyBlob(seal(history), kKey, cipher);
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(*opened, history);
    auto empty = legacyHistory::decryptLegacyBlob(seal(""), kKey, cipher);
    EXPECT_TRUE(empty.has_value()) << "an empty ciphertext still authenticates";
    EXPECT_FALSE(legacyHistory::decryptLegacyBlob(seal(history), kKey.substr(0, 16), cipher).has_value());
    std::string tampered = seal(history);
    tampered[20] ^= 1;
    EXPECT_EQ(legacyHistory::decryptLegacyBlob(tampered, kKey, cipher).error().reason,
              "authentication failed: the file is damaged or the key is wrong");
}

// ---- The migration against a real Secret Service (gnome-keyring on a private session bus).

platform::ProcessOutcome shell(const std::string& script) {
    linux_backend::PosixProcessRunner runner;
    platform::RunLimits limits;
    limits.timeout = 10s;
    return runner.run("/bin/sh", {"-c", script}, limits);
}

class LegacyMigrationSecretService : public LegacyMigrationTest {
  protected:
    void SetUp() override {
        if (std::getenv("QUENLIT_SECRET_SERVICE_HOME") == nullptr) {
            GTEST_SKIP() << "no private Secret Service: run through tests/support/with-secret-service.sh";
        }
        LegacyMigrationTest::SetUp();
    }
    void TearDown() override {
        shell("secret-tool clear service com.quenlit.app.clipboard account history-aes-key");
        LegacyMigrationTest::TearDown();
    }
    bool storeKey(const std::string& key) {
        std::string format;
        for (unsigned char c : key) {
            char escape[6];
            std::snprintf(escape, sizeof escape, "\\%03o", c);
            format += escape;
        }
        return shell("printf '" + format +
                     "' | secret-tool store --label=quenlit-test service com.quenlit.app.clipboard account "
                     "history-aes-key")
                   .status == 0;
    }
    bool keyPresent() {
        return shell(
                   "secret-tool lookup service com.quenlit.app.clipboard account history-aes-key >/dev/null")
                   .status == 0;
    }
    linux_backend::LibsecretStore keyring;
};

TEST_F(LegacyMigrationSecretService, MigratesWithTheKeyringKeyAndDeletesIt) {
    std::string key = kKey;
    key[3] = '\0';  // binary keys come through whole
    key[20] = '\xff';
    ASSERT_TRUE(storeKey(key));
    ASSERT_TRUE(keyPresent());
    testing::writeFile(legacy, seal(plaintext, key));
    auto store = std::make_unique<ClipboardStore>(
        ClipboardStore::Services{scheduler, pasteboard, codec, keyring, files, &cipher}, options());
    store->startMonitoring();
    scheduler.runPending();
    EXPECT_EQ(store->items().size(), 3u);
    EXPECT_THAT(loggedContaining("migrated"),
                ElementsAre(line("clipboard: migrated legacy encrypted history (3 items)")));
    EXPECT_FALSE(fs::exists(legacy));
    EXPECT_FALSE(keyPresent());
}

TEST_F(LegacyMigrationSecretService, AKeyOfTheWrongLengthIsMissing) {
    ASSERT_TRUE(storeKey("too short"));
    testing::writeFile(legacy, seal(plaintext));
    auto store = std::make_unique<ClipboardStore>(
        ClipboardStore::Services{scheduler, pasteboard, codec, keyring, files, &cipher}, options());
    store->startMonitoring();
    scheduler.runPending();
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: legacy key missing from Keychain — cannot migrate")));
    EXPECT_TRUE(fs::exists(legacy));
    EXPECT_TRUE(keyPresent());
}

}  // namespace
}  // namespace quenlit
