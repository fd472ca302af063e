#include "backends/linux/KeyPositions.h"

#include "platform/HotKeys.h"
#include "platform/InputEvents.h"

#include <array>

namespace quenlit::linux_backend {
namespace {

constexpr std::uint32_t kReturn = 0xff0d;
constexpr std::uint32_t kTab = 0xff09;

constexpr std::array<KeyPosition, 82> kKeys = {{
    {0, 30, 'a'},       {1, 31, 's'},       {2, 32, 'd'},       {3, 33, 'f'},       {4, 35, 'h'},
    {5, 34, 'g'},       {6, 44, 'z'},       {7, 45, 'x'},       {8, 46, 'c'},       {9, 47, 'v'},
    {11, 48, 'b'},      {12, 16, 'q'},      {13, 17, 'w'},      {14, 18, 'e'},      {15, 19, 'r'},
    {16, 21, 'y'},      {17, 20, 't'},      {18, 2, '1'},       {19, 3, '2'},       {20, 4, '3'},
    {21, 5, '4'},       {22, 7, '6'},       {23, 6, '5'},       {24, 13, '='},      {25, 10, '9'},
    {26, 8, '7'},       {27, 12, '-'},      {28, 9, '8'},       {29, 11, '0'},      {30, 27, ']'},
    {31, 24, 'o'},      {32, 22, 'u'},      {33, 26, '['},      {34, 23, 'i'},      {35, 25, 'p'},
    {36, 28, 0xff0d},   {37, 38, 'l'},      {38, 36, 'j'},      {39, 40, '\''},     {40, 37, 'k'},
    {41, 39, ';'},      {42, 43, '\\'},     {43, 51, ','},      {44, 53, '/'},      {45, 49, 'n'},
    {46, 50, 'm'},      {47, 52, '.'},      {48, 15, 0xff09},   {49, 57, ' '},      {50, 41, '`'},
    {51, 14, 0xff08},   {53, 1, 0xff1b},    {55, 125, 0xffeb},  {56, 42, 0xffe1},   {57, 58, 0xffe5},
    {58, 56, 0xffe9},   {59, 29, 0xffe3},   {60, 54, 0xffe2},   {61, 100, 0xffea},  {62, 97, 0xffe4},
    {76, 96, 0xff8d},   {96, 63, 0xffc2},   {97, 64, 0xffc3},   {98, 65, 0xffc4},   {99, 61, 0xffc0},
    {100, 66, 0xffc5},  {101, 67, 0xffc6},  {103, 87, 0xffc8},  {109, 68, 0xffc7},  {111, 88, 0xffc9},
    {115, 102, 0xff50}, {116, 104, 0xff55}, {117, 111, 0xffff}, {118, 62, 0xffc1},  {119, 107, 0xff57},
    {120, 60, 0xffbf},  {121, 109, 0xff56}, {122, 59, 0xffbe},  {123, 105, 0xff51}, {124, 106, 0xff53},
    {125, 108, 0xff54}, {126, 103, 0xff52},
}};

}  // namespace

std::optional<KeyPosition> keyPositionForVirtualKey(int virtualKey) {
    for (const auto& k : kKeys) {
        if (k.virtualKey == virtualKey) return k;
    }
    return std::nullopt;
}

std::optional<KeyPosition> keyPositionForEvdev(std::uint16_t evdev) {
    for (const auto& k : kKeys) {
        if (k.evdev == evdev) return k;
    }
    return std::nullopt;
}

std::optional<KeyPosition> keyPositionForKeysym(std::uint32_t keysym) {
    if (keysym >= 'A' && keysym <= 'Z') keysym += 'a' - 'A';
    for (const auto& k : kKeys) {
        if (k.keysym == keysym) return k;
    }
    return std::nullopt;
}

std::optional<int> virtualKeyForKeyPress(std::uint16_t evdev, std::uint32_t keysym) {
    // Keysyms of keys rather than characters: TTY functions, cursor keys, modifiers, keypad (0xfe00
    // and up), and the space bar, which layouts keep in its place.
    auto isNamed = [](std::uint32_t sym) { return (sym >= 0xfe00 && sym <= 0xffff) || sym == ' '; };
    const auto position = keyPositionForEvdev(evdev);
    if (isNamed(keysym)) {
        if (auto named = keyPositionForKeysym(keysym)) return named->virtualKey;
        // Shift+Tab is ISO_Left_Tab, and the like: the key itself says it.
        if (position) return position->virtualKey;
        return std::nullopt;
    }
    const bool latinLetterOrDigit = (keysym >= 'a' && keysym <= 'z') || (keysym >= 'A' && keysym <= 'Z') ||
                                    (keysym >= '0' && keysym <= '9');
    if (latinLetterOrDigit) return keyPositionForKeysym(keysym)->virtualKey;
    if (position && !isNamed(position->keysym)) return position->virtualKey;
    if (auto character = keyPositionForKeysym(keysym)) return character->virtualKey;
    return std::nullopt;
}

std::optional<std::uint32_t> keysymForCodePoint(char32_t codePoint) {
    if (codePoint == U'\n' || codePoint == U'\r') return kReturn;
    if (codePoint == U'\t') return kTab;
    if ((codePoint >= 0x20 && codePoint <= 0x7E) || (codePoint >= 0xA0 && codePoint <= 0xFF))
        return codePoint;
    if (codePoint < 0xA0 || codePoint > 0x10FFFF) return std::nullopt;
    return 0x01000000u + static_cast<std::uint32_t>(codePoint);
}

std::string describeHotKey(int virtualKey, std::uint32_t modifiers) {
    std::string out;
    if (modifiers & platform::hotKeyModifiers::control) out += "Control+";
    if (modifiers & platform::hotKeyModifiers::option) out += "Alt+";
    if (modifiers & platform::hotKeyModifiers::shift) out += "Shift+";
    if (modifiers & platform::hotKeyModifiers::command) out += "Super+";
    switch (virtualKey) {
        case platform::keyCode::space:
            return out + "Space";
        case platform::keyCode::escape:
            return out + "Escape";
        case platform::keyCode::returnKey:
            return out + "Return";
        case platform::keyCode::tab:
            return out + "Tab";
        default:
            break;
    }
    if (auto k = keyPositionForVirtualKey(virtualKey); k && k->keysym < 0x80) {
        char c = static_cast<char>(k->keysym);
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return out + std::string(1, c);
    }
    return out + "key " + std::to_string(virtualKey);
}

}  // namespace quenlit::linux_backend
