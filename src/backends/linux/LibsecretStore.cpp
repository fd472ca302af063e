#include "backends/linux/LibsecretStore.h"

#include <libsecret/secret.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace quenlit::linux_backend {

namespace {

// Items are matched by their two attributes only, not by the schema name libsecret records, so an
// item that another tool stored (secret-tool, a password manager) is found as well.
const SecretSchema* schema() {
    static const SecretSchema instance = [] {
        SecretSchema s{};
        s.name = "com.quenlit.Secret";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[2] = {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &instance;
}

// D-Bus strings are NUL-terminated UTF-8: a name that is not one can name no item, and handing it
// on would cut it short at the NUL (another item) or trip GLib's string checks.
bool isAttributeValue(std::string_view value) {
    return value.find('\0') == std::string_view::npos &&
           g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr);
}

// Cancels the libsecret call once the timeout passes: D-Bus calls wait 25 s by default, and
// activating a Secret Service that cannot start can take as long.
class Deadline {
  public:
    explicit Deadline(std::chrono::milliseconds timeout) : cancellable_(g_cancellable_new()) {
        watchdog_ = std::thread([this, timeout] {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_for(lock, timeout, [this] { return finished_; }))
                g_cancellable_cancel(cancellable_);
        });
    }
    ~Deadline() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        wake_.notify_one();
        watchdog_.join();
        g_object_unref(cancellable_);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    GCancellable* cancellable() const { return cancellable_; }

  private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool finished_ = false;
    std::thread watchdog_;
};

// The two attributes; the table borrows the strings, which outlive it.
struct Attributes {
    Attributes(std::string_view serviceName, std::string_view accountName)
        : service(serviceName), account(accountName), table(g_hash_table_new(g_str_hash, g_str_equal)) {
        g_hash_table_insert(table, const_cast<char*>("service"), service.data());
        g_hash_table_insert(table, const_cast<char*>("account"), account.data());
    }
    ~Attributes() { g_hash_table_unref(table); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;

    std::string service;
    std::string account;
    GHashTable* table;
};

}  // namespace

std::optional<std::string> LibsecretStore::read(std::string_view service, std::string_view account) {
    if (!isAttributeValue(service) || !isAttributeValue(account)) return std::nullopt;
    Attributes attributes(service, account);
    Deadline deadline(timeout_);
    GError* error = nullptr;
    // The service API, not the password one: a password is text up to its first NUL, while a
    // SecretValue holds any bytes (a 32-byte key).
    SecretValue* value =
        secret_service_lookup_sync(nullptr, schema(), attributes.table, deadline.cancellable(), &error);
    if (error != nullptr) g_error_free(error);
    if (value == nullptr) return std::nullopt;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    std::optional<std::string> secret;
    if (bytes != nullptr) secret.emplace(bytes, length);
    secret_value_unref(value);
    return secret;
}

void LibsecretStore::remove(std::string_view service, std::string_view account) {
    if (!isAttributeValue(service) || !isAttributeValue(account)) return;
    Attributes attributes(service, account);
    Deadline deadline(timeout_);
    GError* error = nullptr;
    secret_service_clear_sync(nullptr, schema(), attributes.table, deadline.cancellable(), &error);
    if (error != nullptr) g_error_free(error);
}

}  // namespace quenlit::linux_backend
