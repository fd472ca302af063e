#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quenlit {

// A 128-bit identifier. Its text form is the usual 8-4-4-4-12 hexadecimal groups, upper case.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    std::string toString() const;
    // Accepts the 36-character grouped form in either case; anything else is absent.
    static std::optional<Uuid> parse(std::string_view text);

    auto operator<=>(const Uuid&) const = default;  // NOLINT(modernize-use-nullptr): the 0 is the defaulted comparison's own
};

// Deterministic identifier from a key string: the same key always gives the same identifier.
// A small multiply-and-carry mix over the key's UTF-8 bytes, stamped as version 5, variant 10.
Uuid nameBasedUUID(std::string_view name);

}  // namespace quenlit

template <>
struct std::hash<quenlit::Uuid> {
    std::size_t operator()(const quenlit::Uuid& u) const noexcept {
        std::size_t h = 0;
        for (std::uint8_t b : u.bytes)
            h = h * 131 + b;
        return h;
    }
};
