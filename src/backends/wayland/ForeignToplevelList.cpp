#include "backends/wayland/ForeignToplevelList.h"

#include "backends/wayland/WaylandConnection.h"

#include <wayland-client.h>
#include <wlr-foreign-toplevel-management-unstable-v1-client-protocol.h>

#include <algorithm>
#include <cstring>

namespace quenlit::wayland {

struct ForeignToplevelList::Entry {
    ForeignToplevelList* list = nullptr;
    zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
    Toplevel shown;    // as of the last "done"
    Toplevel pending;  // what has arrived since
    bool complete = false;
};

namespace {

using Entry = ForeignToplevelList::Entry;

Entry* entryOf(void* data) {
    return static_cast<Entry*>(data);
}

void onTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    entryOf(data)->pending.title = title;
}

void onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
    entryOf(data)->pending.appId = appId;
}

void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}

void onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    Toplevel& t = entryOf(data)->pending;
    t.activated = t.minimized = t.maximized = t.fullscreen = false;
    const std::size_t count = states->size / sizeof(std::uint32_t);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t state = 0;
        std::memcpy(&state, static_cast<const char*>(states->data) + i * sizeof(std::uint32_t), sizeof state);
        switch (state) {
            case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED:
                t.activated = true;
                break;
            case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED:
                t.minimized = true;
                break;
            case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MAXIMIZED:
                t.maximized = true;
                break;
            case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN:
                t.fullscreen = true;
                break;
            default:
                break;
        }
    }
}

void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

}  // namespace

// Friends of the list through its nested Entry: they reach the list's private members.
struct ToplevelEvents {
    static void onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
        Entry* entry = entryOf(data);
        entry->shown = entry->pending;
        entry->complete = true;
        entry->list->changed.emit();
    }

    static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1* proxy) {
        Entry* entry = entryOf(data);
        ForeignToplevelList* list = entry->list;
        const bool wasListed = entry->complete;
        zwlr_foreign_toplevel_handle_v1_destroy(proxy);
        entry->proxy = nullptr;
        list->remove(entry);
        if (wasListed) list->changed.emit();
    }

    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                           zwlr_foreign_toplevel_handle_v1* proxy) {
        auto* list = static_cast<ForeignToplevelList*>(data);
        static const zwlr_foreign_toplevel_handle_v1_listener listener = {
            &onTitle,
            &onAppId,
            &onOutput,
            &onOutput,
            &onState,
            &ToplevelEvents::onDone,
            &ToplevelEvents::onClosed,
            &onParent,
        };
        auto entry = std::make_unique<Entry>();
        entry->list = list;
        entry->proxy = proxy;
        entry->pending.handle = list->nextHandle_++;
        zwlr_foreign_toplevel_handle_v1_add_listener(proxy, &listener, entry.get());
        list->entries_.push_back(std::move(entry));
    }

    static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
        auto* list = static_cast<ForeignToplevelList*>(data);
        zwlr_foreign_toplevel_manager_v1_destroy(manager);
        list->manager_ = nullptr;
    }
};

ForeignToplevelList::ForeignToplevelList(WaylandConnection& connection) : connection_(connection) {
    manager_ = connection_.takeForeignToplevelManager();
    if (manager_ == nullptr) return;
    static const zwlr_foreign_toplevel_manager_v1_listener listener = {&ToplevelEvents::onToplevel,
                                                                       &ToplevelEvents::onFinished};
    zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &listener, this);
    connection_.flush();
}

ForeignToplevelList::~ForeignToplevelList() {
    for (auto& entry : entries_) {
        if (entry->proxy != nullptr) zwlr_foreign_toplevel_handle_v1_destroy(entry->proxy);
    }
    if (manager_ != nullptr) zwlr_foreign_toplevel_manager_v1_destroy(manager_);
    connection_.flush();
}

void ForeignToplevelList::remove(Entry* entry) {
    std::erase_if(entries_, [entry](const std::unique_ptr<Entry>& e) { return e.get() == entry; });
}

std::vector<Toplevel> ForeignToplevelList::list() const {
    std::vector<Toplevel> out;
    for (const auto& entry : entries_) {
        if (entry->complete) out.push_back(entry->shown);
    }
    return out;
}

ForeignToplevelList::Entry* ForeignToplevelList::find(std::uint64_t handle) const {
    for (const auto& entry : entries_) {
        if (entry->complete && entry->shown.handle == handle) return entry.get();
    }
    return nullptr;
}

bool ForeignToplevelList::activate(std::uint64_t handle) {
    Entry* entry = find(handle);
    if (entry == nullptr || connection_.seat() == nullptr || connection_.broken()) return false;
    zwlr_foreign_toplevel_handle_v1_activate(entry->proxy, connection_.seat());
    // Handled before the caller goes on: a panel that hides right after must find the window in
    // front, not give the focus back to the one it came from.
    return connection_.roundtrip();
}

bool ForeignToplevelList::setMinimized(std::uint64_t handle, bool minimized) {
    Entry* entry = find(handle);
    if (entry == nullptr || connection_.broken()) return false;
    if (minimized) {
        zwlr_foreign_toplevel_handle_v1_set_minimized(entry->proxy);
    } else {
        zwlr_foreign_toplevel_handle_v1_unset_minimized(entry->proxy);
    }
    connection_.flush();
    return !connection_.broken();
}

}  // namespace quenlit::wayland
