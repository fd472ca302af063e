#include "panel/ShortcutKeys.h"

#include "platform/Keys.h"

#include <array>
#include <utility>

namespace quenlit::shortcutKeys {
namespace {

// The keys that print characters on a US keyboard: keycode, keysym.
constexpr std::array<std::pair<std::uint8_t, char>, 48> kUsKeys = {{
    {10, '1'}, {11, '2'}, {12, '3'},  {13, '4'}, {14, '5'},  {15, '6'}, {16, '7'}, {17, '8'},
    {18, '9'}, {19, '0'}, {20, '-'},  {21, '='}, {24, 'q'},  {25, 'w'}, {26, 'e'}, {27, 'r'},
    {28, 't'}, {29, 'y'}, {30, 'u'},  {31, 'i'}, {32, 'o'},  {33, 'p'}, {34, '['}, {35, ']'},
    {38, 'a'}, {39, 's'}, {40, 'd'},  {41, 'f'}, {42, 'g'},  {43, 'h'}, {44, 'j'}, {45, 'k'},
    {46, 'l'}, {47, ';'}, {48, '\''}, {49, '`'}, {51, '\\'}, {52, 'z'}, {53, 'x'}, {54, 'c'},
    {55, 'v'}, {56, 'b'}, {57, 'n'},  {58, 'm'}, {59, ','},  {60, '.'}, {61, '/'}, {65, ' '},
}};

// Keysyms of keys rather than characters: TTY functions, cursor keys, modifiers, keypad (0xfe00
// and up), and the space bar, which layouts keep in its place.
bool isNamed(std::uint32_t sym) {
    return (sym >= 0xfe00 && sym <= 0xffff) || sym == platform::keysym::space;
}

bool isLatinLetterOrDigit(std::uint32_t sym) {
    return (sym >= 'a' && sym <= 'z') || (sym >= 'A' && sym <= 'Z') || (sym >= '0' && sym <= '9');
}

}  // namespace

std::uint32_t usKeysymAt(std::uint32_t keycode) {
    for (const auto& [code, sym] : kUsKeys) {
        if (code == keycode) return static_cast<std::uint32_t>(sym);
    }
    return 0;
}

std::uint32_t shortcutKeysym(std::uint32_t keysym, std::uint32_t keycode) {
    if (isNamed(keysym)) return keysym == platform::keysym::isoLeftTab ? platform::keysym::tab : keysym;
    if (isLatinLetterOrDigit(keysym)) return keysym >= 'A' && keysym <= 'Z' ? keysym + ('a' - 'A') : keysym;
    if (const std::uint32_t atPlace = usKeysymAt(keycode); atPlace != 0 && atPlace != ' ') return atPlace;
    return keysym;
}

}  // namespace quenlit::shortcutKeys
