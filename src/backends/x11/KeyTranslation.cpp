#include "backends/x11/KeyTranslation.h"

#include <array>

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

}  // namespace quenlit::x11
