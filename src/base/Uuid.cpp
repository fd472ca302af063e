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
    // Each byte b of the name mixes into the 16 state bytes, least significant first, as
    //   s[0] = ((s[0] ^ b) * 167 + b) mod 256, and for i > 0
    //   s[i] = (s[i] * 167 + b + carry) mod 256, the carry being the previous step's value / 256.
    // That is one multiplication of the state read as a 128-bit little-endian number:
    //   state = (state ^ b) * 167 + b * 0x0101...01  (mod 2^128).
    __extension__ using U128 = unsigned __int128;
    U128 state = 0;
    for (std::size_t i = kSeed.size(); i-- > 0;)
        state = (state << 8U) | kSeed[i];
    const U128 eachByte = (static_cast<U128>(0x0101010101010101ULL) << 64U) | 0x0101010101010101ULL;
    for (char ch : name) {
        const auto b = static_cast<unsigned char>(ch);
        state = (state ^ b) * 167U + eachByte * b;
    }
    std::array<std::uint8_t, 16> s{};
    for (auto& byte : s) {
        byte = static_cast<std::uint8_t>(state & 0xFFU);
        state >>= 8U;
    }
    s[6] = static_cast<std::uint8_t>((s[6] & 0x0F) | 0x50);
    s[8] = static_cast<std::uint8_t>((s[8] & 0x3F) | 0x80);
    return Uuid{s};
}

}  // namespace quenlit
