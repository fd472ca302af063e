// The history file is ours, but whatever is on disk gets read at start-up: any bytes must load or
// fail cleanly, whatever loads must be saved and loaded back unchanged, and the quick reading must
// agree with the thorough one (the same items, or the same error).

#include "clipboard/HistoryJson.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto decoded = quenlit::historyJson::decode(bytes, 200);
    const auto thorough = quenlit::historyJson::decodeThoroughly(bytes, 200);
    if (decoded.error != thorough.error || decoded.items != thorough.items) __builtin_trap();
    if (decoded.error) {
        if (!decoded.items.empty() || decoded.error->empty()) __builtin_trap();
        return 0;
    }
    if (decoded.items.size() > 200) __builtin_trap();
    const auto again = quenlit::historyJson::decode(quenlit::historyJson::encode(decoded.items));
    if (again.error || again.items != decoded.items) __builtin_trap();
    return 0;
}
