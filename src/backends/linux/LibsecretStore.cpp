#include "backends/linux/LibsecretStore.h"

#include "base/Log.h"

#include <libsecret/secret.h>

#include <dlfcn.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>

namespace quenlit::linux_backend {

namespace {

// libsecret's functions, by the types its header declares them with. The library is loaded when
// first asked: the store is read only to import an earlier release's history, and loaded at
// start-up it (with libgcrypt under it) would cost every run about half a megabyte of memory. It
// is never unloaded: it registers GObject types.
struct Libsecret {
    decltype(&secret_service_lookup_sync) lookup = nullptr;
    decltype(&secret_service_clear_sync) clear = nullptr;
    decltype(&secret_value_get) valueBytes = nullptr;
    decltype(&secret_value_unref) valueUnref = nullptr;
};

const Libsecret* libsecret() {
    static const std::optional<Libsecret> loaded = []() -> std::optional<Libsecret> {
        void* handle = ::dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            log::write("secrets: libsecret could not be loaded — the Secret Service is not reachable");
            return std::nullopt;
        }
        const auto find = [handle](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, name));
            return function != nullptr;
        };
        Libsecret l;
        if (!find(l.lookup, "secret_service_lookup_sync") || !find(l.clear, "secret_service_clear_sync") ||
            !find(l.valueBytes, "secret_value_get") || !find(l.valueUnref, "secret_value_unref")) {
            log::write(
                "secrets: libsecret lacks a function it should have — the Secret Service is not reachable");
            return std::nullopt;
        }
        return l;
    }();
    return loaded ? &*loaded : nullptr;
}

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
    const Libsecret* l = libsecret();
    if (l == nullptr) return std::nullopt;
    Attributes attributes(service, account);
    Deadline deadline(timeout_);
    GError* error = nullptr;
    // The service API, not the password one: a password is text up to its first NUL, while a
    // SecretValue holds any bytes (a 32-byte key).
    SecretValue* value = l->lookup(nullptr, schema(), attributes.table, deadline.cancellable(), &error);
    if (error != nullptr) g_error_free(error);
    if (value == nullptr) return std::nullopt;
    gsize length = 0;
    const gchar* bytes = l->valueBytes(value, &length);
    std::optional<std::string> secret;
    if (bytes != nullptr) secret.emplace(bytes, length);
    l->valueUnref(value);
    return secret;
}

void LibsecretStore::remove(std::string_view service, std::string_view account) {
    if (!isAttributeValue(service) || !isAttributeValue(account)) return;
    const Libsecret* l = libsecret();
    if (l == nullptr) return;
    Attributes attributes(service, account);
    Deadline deadline(timeout_);
    GError* error = nullptr;
    l->clear(nullptr, schema(), attributes.table, deadline.cancellable(), &error);
    if (error != nullptr) g_error_free(error);
}

}  // namespace quenlit::linux_backend
