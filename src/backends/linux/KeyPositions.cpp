#include "backends/linux/KeyPositions.h"

#include "platform/Keys.h"

#include <array>
#include <cstdio>

namespace quenlit::linux_backend {
namespace {

constexpr std::uint32_t kReturn = 0xff0d;
constexpr std::uint32_t kTab = 0xff09;

constexpr std::array<KeyPosition, 82> kKeys = {{
    {30, 'a'},     {31, 's'},     {32, 'd'},     {33, 'f'},     {35, 'h'},     {34, 'g'},    {44, 'z'},
    {45, 'x'},     {46, 'c'},     {47, 'v'},     {48, 'b'},     {16, 'q'},     {17, 'w'},    {18, 'e'},
    {19, 'r'},     {21, 'y'},     {20, 't'},     {2, '1'},      {3, '2'},      {4, '3'},     {5, '4'},
    {7, '6'},      {6, '5'},      {13, '='},     {10, '9'},     {8, '7'},      {12, '-'},    {9, '8'},
    {11, '0'},     {27, ']'},     {24, 'o'},     {22, 'u'},     {26, '['},     {23, 'i'},    {25, 'p'},
    {28, 0xff0d},  {38, 'l'},     {36, 'j'},     {40, '\''},    {37, 'k'},     {39, ';'},    {43, '\\'},
    {51, ','},     {53, '/'},     {49, 'n'},     {50, 'm'},     {52, '.'},     {15, 0xff09}, {57, ' '},
    {41, '`'},     {14, 0xff08},  {1, 0xff1b},   {125, 0xffeb}, {42, 0xffe1},  {58, 0xffe5}, {56, 0xffe9},
    {29, 0xffe3},  {54, 0xffe2},  {100, 0xffea}, {97, 0xffe4},  {96, 0xff8d},  {63, 0xffc2}, {64, 0xffc3},
    {65, 0xffc4},  {61, 0xffc0},  {66, 0xffc5},  {67, 0xffc6},  {87, 0xffc8},  {68, 0xffc7}, {88, 0xffc9},
    {102, 0xff50}, {104, 0xff55}, {111, 0xffff}, {62, 0xffc1},  {107, 0xff57}, {60, 0xffbf}, {109, 0xff56},
    {59, 0xffbe},  {105, 0xff51}, {106, 0xff53}, {108, 0xff54}, {103, 0xff52},
}};

}  // namespace

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

std::optional<std::uint32_t> keysymForCodePoint(char32_t codePoint) {
    if (codePoint == U'\n' || codePoint == U'\r') return kReturn;
    if (codePoint == U'\t') return kTab;
    if ((codePoint >= 0x20 && codePoint <= 0x7E) || (codePoint >= 0xA0 && codePoint <= 0xFF))
        return codePoint;
    if (codePoint < 0xA0 || codePoint > 0x10FFFF) return std::nullopt;
    return 0x01000000u + static_cast<std::uint32_t>(codePoint);
}

std::string describeHotKey(std::uint32_t keysym, platform::Modifiers modifiers) {
    std::string out;
    if (modifiers.control) out += "Control+";
    if (modifiers.alt) out += "Alt+";
    if (modifiers.shift) out += "Shift+";
    if (modifiers.super) out += "Super+";
    switch (keysym) {
        case platform::keysym::space:
            return out + "Space";
        case platform::keysym::escape:
            return out + "Escape";
        case platform::keysym::returnKey:
            return out + "Return";
        case platform::keysym::tab:
            return out + "Tab";
        default:
            break;
    }
    if (keysym > 0x20 && keysym < 0x7f) {
        char c = static_cast<char>(keysym);
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return out + std::string(1, c);
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(keysym));
    return out + "keysym " + hex;
}

}  // namespace quenlit::linux_backend
