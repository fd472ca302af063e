#include "backends/x11/KeyTranslation.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace quenlit::x11 {
namespace {

constexpr std::array<KeyPosition, 82> kKeys = {{
    {0, 38, 'a'},       {1, 39, 's'},       {2, 40, 'd'},       {3, 41, 'f'},       {4, 43, 'h'},
    {5, 42, 'g'},       {6, 52, 'z'},       {7, 53, 'x'},       {8, 54, 'c'},       {9, 55, 'v'},
    {11, 56, 'b'},      {12, 24, 'q'},      {13, 25, 'w'},      {14, 26, 'e'},      {15, 27, 'r'},
    {16, 29, 'y'},      {17, 28, 't'},      {18, 10, '1'},      {19, 11, '2'},      {20, 12, '3'},
    {21, 13, '4'},      {22, 15, '6'},      {23, 14, '5'},      {24, 21, '='},      {25, 18, '9'},
    {26, 16, '7'},      {27, 20, '-'},      {28, 17, '8'},      {29, 19, '0'},      {30, 35, ']'},
    {31, 32, 'o'},      {32, 30, 'u'},      {33, 34, '['},      {34, 31, 'i'},      {35, 33, 'p'},
    {36, 36, 0xff0d},   {37, 46, 'l'},      {38, 44, 'j'},      {39, 48, '\''},     {40, 45, 'k'},
    {41, 47, ';'},      {42, 51, '\\'},     {43, 59, ','},      {44, 61, '/'},      {45, 57, 'n'},
    {46, 58, 'm'},      {47, 60, '.'},      {48, 23, 0xff09},   {49, 65, ' '},      {50, 49, '`'},
    {51, 22, 0xff08},   {53, 9, 0xff1b},    {55, 133, 0xffeb},  {56, 50, 0xffe1},   {57, 66, 0xffe5},
    {58, 64, 0xffe9},   {59, 37, 0xffe3},   {60, 62, 0xffe2},   {61, 108, 0xffea},  {62, 105, 0xffe4},
    {76, 104, 0xff8d},  {96, 71, 0xffc2},   {97, 72, 0xffc3},   {98, 73, 0xffc4},   {99, 69, 0xffc0},
    {100, 74, 0xffc5},  {101, 75, 0xffc6},  {103, 95, 0xffc8},  {109, 76, 0xffc7},  {111, 96, 0xffc9},
    {115, 110, 0xff50}, {116, 112, 0xff55}, {117, 119, 0xffff}, {118, 70, 0xffc1},  {119, 115, 0xff57},
    {120, 68, 0xffbf},  {121, 117, 0xff56}, {122, 67, 0xffbe},  {123, 113, 0xff51}, {124, 114, 0xff53},
    {125, 116, 0xff54}, {126, 111, 0xff52},
}};

}  // namespace

std::optional<KeyPosition> keyForVirtualKey(int virtualKey) {
    for (const auto& k : kKeys) {
        if (k.virtualKey == virtualKey) return k;
    }
    return std::nullopt;
}

std::optional<KeyPosition> keyForKeycode(xcb_keycode_t keycode) {
    for (const auto& k : kKeys) {
        if (k.keycode == keycode) return k;
    }
    return std::nullopt;
}

std::optional<KeyPosition> keyForKeysym(std::uint32_t keysym) {
    // Upper-case letters are the same key.
    if (keysym >= 'A' && keysym <= 'Z') keysym += 'a' - 'A';
    for (const auto& k : kKeys) {
        if (k.keysym == keysym) return k;
    }
    return std::nullopt;
}

KeyboardMapping KeyboardMapping::read(xcb_connection_t* c) {
    KeyboardMapping m;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const auto first = setup->min_keycode;
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    auto* mapping = xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, count), nullptr);
    if (mapping != nullptr) {
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
        const int perCode = mapping->keysyms_per_keycode;
        for (int i = 0; i < count; ++i) {
            for (int level = 0; level < perCode && level < 2; ++level) {
                if (const xcb_keysym_t sym = syms[i * perCode + level]; sym != 0)
                    m.keysymCodes_.emplace_back(sym, static_cast<xcb_keycode_t>(first + i));
            }
        }
        std::free(mapping);
    }
    auto* modifiers = xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr);
    if (modifiers != nullptr) {
        m.perModifier_ = modifiers->keycodes_per_modifier;
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers);
        m.modifierCodes_.assign(codes, codes + 8 * m.perModifier_);
        std::free(modifiers);
    }
    return m;
}

std::vector<xcb_keycode_t> KeyboardMapping::keycodesOf(std::uint32_t keysym) const {
    std::vector<xcb_keycode_t> out;
    for (const auto& [sym, code] : keysymCodes_) {
        if (sym == keysym && std::find(out.begin(), out.end(), code) == out.end()) out.push_back(code);
    }
    return out;
}

xcb_keycode_t KeyboardMapping::keycodeFor(int virtualKey) const {
    const auto key = keyForVirtualKey(virtualKey);
    if (!key) return 0;
    if (key->keysym >= 0xff00 || key->keysym == ' ') {
        for (const auto& [sym, code] : keysymCodes_) {
            if (sym == key->keysym) return code;
        }
    }
    return key->keycode;
}

std::uint16_t KeyboardMapping::modifierMaskOf(std::uint32_t keysym) const {
    const auto wanted = keycodesOf(keysym);
    for (int m = 0; m < 8; ++m) {
        for (int k = 0; k < perModifier_; ++k) {
            const xcb_keycode_t code = modifierCodes_[static_cast<std::size_t>(m * perModifier_ + k)];
            if (code != 0 && std::find(wanted.begin(), wanted.end(), code) != wanted.end())
                return static_cast<std::uint16_t>(1u << m);
        }
    }
    return 0;
}

bool KeyboardMapping::mapsAnyOf(int first, int last) const {
    return std::any_of(keysymCodes_.begin(), keysymCodes_.end(),
                       [&](const auto& entry) { return entry.second >= first && entry.second <= last; });
}

}  // namespace quenlit::x11
