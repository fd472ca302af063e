#pragma once

// What the clipboard tests share: the in-memory desktop a store runs on, and the history as the
// list shows it.

#include "backends/fake/FakeAtomicFile.h"
#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/fake/VirtualScheduler.h"
#include "clipboard/ClipboardStore.h"

#include <string>
#include <vector>

namespace quenlit::testing {

struct FakeClipboardDesktop {
    fake::VirtualScheduler scheduler;
    fake::FakePasteboard pasteboard;
    fake::FakeImageCodec codec;
    fake::FakeSecretStore secrets;
    fake::FakeAtomicFile files;

    ClipboardStore::Services storeServices() { return {scheduler, pasteboard, codec, secrets, files}; }
};

// The entries' texts, newest first, with "<image>" for a picture.
inline std::vector<std::string> texts(const std::vector<ClipboardItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items)
        out.push_back(item.kind == ClipboardItem::Kind::image ? "<image>" : item.text());
    return out;
}

}  // namespace quenlit::testing
