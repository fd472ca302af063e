// The history file is ours, but whatever is on disk gets read at start-up: any bytes must load or
// fail cleanly, and whatever loads must be saved and loaded back unchanged.

#include "clipboard/HistoryJson.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto decoded = quenlit::historyJson::decode(bytes, 200);
    if (decoded.error) {
        if (!decoded.items.empty() || decoded.error->empty()) __builtin_trap();
        return 0;
    }
    if (decoded.items.size() > 200) __builtin_trap();
    const auto again = quenlit::historyJson::decode(quenlit::historyJson::encode(decoded.items));
    if (again.error || again.items != decoded.items) __builtin_trap();
    return 0;
}
