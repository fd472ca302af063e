#include "automation/VirtualKeys.h"

#include "panel/ShortcutKeys.h"

#include <array>

namespace quenlit::virtualKeys {
namespace {

struct Key {
    std::uint16_t virtualKey;
    std::uint32_t keysym;  // on a US layout
};

constexpr std::array<Key, 82> kKeys = {{
    {0, 'a'},      {1, 's'},      {2, 'd'},      {3, 'f'},      {4, 'h'},      {5, 'g'},      {6, 'z'},
    {7, 'x'},      {8, 'c'},      {9, 'v'},      {11, 'b'},     {12, 'q'},     {13, 'w'},     {14, 'e'},
    {15, 'r'},     {16, 'y'},     {17, 't'},     {18, '1'},     {19, '2'},     {20, '3'},     {21, '4'},
    {22, '6'},     {23, '5'},     {24, '='},     {25, '9'},     {26, '7'},     {27, '-'},     {28, '8'},
    {29, '0'},     {30, ']'},     {31, 'o'},     {32, 'u'},     {33, '['},     {34, 'i'},     {35, 'p'},
    {36, 0xff0d},  {37, 'l'},     {38, 'j'},     {39, '\''},    {40, 'k'},     {41, ';'},     {42, '\\'},
    {43, ','},     {44, '/'},     {45, 'n'},     {46, 'm'},     {47, '.'},     {48, 0xff09},  {49, ' '},
    {50, '`'},     {51, 0xff08},  {53, 0xff1b},  {55, 0xffeb},  {56, 0xffe1},  {57, 0xffe5},  {58, 0xffe9},
    {59, 0xffe3},  {60, 0xffe2},  {61, 0xffea},  {62, 0xffe4},  {76, 0xff8d},  {96, 0xffc2},  {97, 0xffc3},
    {98, 0xffc4},  {99, 0xffc0},  {100, 0xffc5}, {101, 0xffc6}, {103, 0xffc8}, {109, 0xffc7}, {111, 0xffc9},
    {115, 0xff50}, {116, 0xff55}, {117, 0xffff}, {118, 0xffc1}, {119, 0xff57}, {120, 0xffbf}, {121, 0xff56},
    {122, 0xffbe}, {123, 0xff51}, {124, 0xff53}, {125, 0xff54}, {126, 0xff52},
}};

}  // namespace

std::optional<std::uint16_t> forKey(std::uint32_t keysym, std::uint32_t keycode) {
    const std::uint32_t shortcut = shortcutKeys::shortcutKeysym(keysym, keycode);
    for (const auto& k : kKeys) {
        if (k.keysym == shortcut) return k.virtualKey;
    }
    return std::nullopt;
}

std::uint32_t keysymOf(std::uint16_t virtualKey) {
    for (const auto& k : kKeys) {
        if (k.virtualKey == virtualKey) return k.keysym;
    }
    return 0;
}

}  // namespace quenlit::virtualKeys
