#include "backends/linux/PasteKey.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace quenlit::linux_backend {
namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

constexpr std::string_view kTerminals[] = {"konsole",
                                           "org.kde.konsole",
                                           "alacritty",
                                           "kitty",
                                           "st",
                                           "st-256color",
                                           "tilix",
                                           "com.gexperts.tilix",
                                           "terminator",
                                           "wezterm",
                                           "org.wezfurlong.wezterm",
                                           "foot",
                                           "footclient",
                                           "sakura",
                                           "termite",
                                           "guake",
                                           "yakuake",
                                           "org.kde.yakuake",
                                           "tilda",
                                           "terminology",
                                           "ghostty",
                                           "com.mitchellh.ghostty",
                                           "lxterminal",
                                           "qterminal",
                                           "mate-terminal",
                                           "cool-retro-term"};

template <typename List>
bool listed(const List& list, const std::string& name) {
    return std::find(std::begin(list), std::end(list), name) != std::end(list);
}

// gnome-terminal, org.gnome.Terminal, xfce4-terminal, mate-terminal, lxterminal, qterminal, Terminal …
bool isTerminal(std::string_view name) {
    const std::string folded = lower(name);
    return folded.find("terminal") != std::string::npos || listed(kTerminals, folded);
}

}  // namespace

PasteKey pasteKeyForClass(std::string_view instance, std::string_view klass) {
    static constexpr std::string_view primaryPasters[] = {"xterm", "uxterm",       "urxvt",
                                                          "rxvt",  "rxvt-unicode", "urxvt-256color"};
    for (std::string_view name : {instance, klass}) {
        if (listed(primaryPasters, lower(name))) return PasteKey::shiftInsert;
    }
    for (std::string_view name : {instance, klass}) {
        if (isTerminal(name)) return PasteKey::controlShiftV;
    }
    return PasteKey::controlV;
}

PasteKey pasteKeyForAppId(std::string_view appId) {
    return isTerminal(appId) ? PasteKey::controlShiftV : PasteKey::controlV;
}

}  // namespace quenlit::linux_backend
