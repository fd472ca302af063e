#include "base/Uuid.h"

namespace quenlit {
namespace {

constexpr std::array<std::uint8_t, 16> kSeed = {0x6C, 0x25, 0x19, 0x7B, 0x52, 0x1E, 0x43, 0x0A,
                                                0x9C, 0xD4, 0x2F, 0x81, 0xB6, 0x03, 0xE7, 0x55};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDashOffset(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

}  // namespace

std::string Uuid::toString() const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return out;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Uuid u;
    std::size_t byte = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (isDashOffset(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int hi = hexValue(text[i]);
        int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0 || isDashOffset(i + 1)) return std::nullopt;
        u.bytes[byte++] = static_cast<std::uint8_t>(hi * 16 + lo);
        i += 2;
    }
    return u;
}

Uuid nameBasedUUID(std::string_view name) {
    std::array<std::uint8_t, 16> s = kSeed;
    for (char ch : name) {
        const auto b = static_cast<std::uint32_t>(static_cast<unsigned char>(ch));
        std::uint32_t v = ((s[0] ^ b) & 0xFF) * 167 + b;
        s[0] = static_cast<std::uint8_t>(v & 0xFF);
        for (std::size_t i = 1; i < 16; ++i) {
            v = s[i] * 167u + b + ((v >> 8) & 0xFF);
            s[i] = static_cast<std::uint8_t>(v & 0xFF);
        }
    }
    s[6] = static_cast<std::uint8_t>((s[6] & 0x0F) | 0x50);
    s[8] = static_cast<std::uint8_t>((s[8] & 0x3F) | 0x80);
    return Uuid{s};
}

}  // namespace quenlit
