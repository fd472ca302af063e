#include "base/Paths.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quenlit {
namespace {

std::optional<std::filesystem::path> absoluteVariable(const XdgDirs::Getenv& getenv, const char* name) {
    const char* value = getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    std::filesystem::path p(value);
    if (!p.is_absolute()) return std::nullopt;
    return p;
}

}  // namespace

XdgDirs XdgDirs::fromEnvironment(const Getenv& getenv) {
    XdgDirs d;
    d.home = absoluteVariable(getenv, "HOME").value_or(std::filesystem::path("/"));
    d.dataHome = absoluteVariable(getenv, "XDG_DATA_HOME").value_or(d.home / ".local" / "share");
    d.stateHome = absoluteVariable(getenv, "XDG_STATE_HOME").value_or(d.home / ".local" / "state");
    d.configHome = absoluteVariable(getenv, "XDG_CONFIG_HOME").value_or(d.home / ".config");
    d.cacheHome = absoluteVariable(getenv, "XDG_CACHE_HOME").value_or(d.home / ".cache");
    d.runtimeDir = absoluteVariable(getenv, "XDG_RUNTIME_DIR");
    return d;
}

XdgDirs XdgDirs::current() {
    return fromEnvironment([](const char* name) { return std::getenv(name); });
}

std::optional<std::filesystem::path> parseUserDirsEntry(const std::string& fileText, const std::string& key,
                                                        const std::filesystem::path& home) {
    std::istringstream in(fileText);
    std::string line;
    std::optional<std::filesystem::path> found;
    while (std::getline(in, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        if (line.compare(start, key.size(), key) != 0) continue;
        std::size_t eq = line.find_first_not_of(" \t", start + key.size());
        if (eq == std::string::npos || line[eq] != '=') continue;
        std::size_t open = line.find('"', eq);
        std::size_t close = open == std::string::npos ? open : line.find('"', open + 1);
        if (close == std::string::npos) continue;
        std::string value = line.substr(open + 1, close - open - 1);
        // The format allows backslash escapes for quotes and backslashes inside the value.
        std::string unescaped;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            unescaped.push_back(value[i]);
        }
        if (unescaped.rfind("$HOME", 0) == 0) {
            std::string rest = unescaped.substr(5);
            while (!rest.empty() && rest.front() == '/')
                rest.erase(0, 1);
            found = rest.empty() ? home : home / rest;
        } else if (!unescaped.empty() && unescaped.front() == '/') {
            found = std::filesystem::path(unescaped);
        }
    }
    return found;
}

std::filesystem::path XdgDirs::downloadsDir() const {
    std::ifstream in(configHome / "user-dirs.dirs");
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        if (auto p = parseUserDirsEntry(text.str(), "XDG_DOWNLOAD_DIR", home)) {
            std::string s = p->lexically_normal().string();
            while (s.size() > 1 && s.back() == '/')
                s.pop_back();
            return s;
        }
    }
    return home / "Downloads";
}

}  // namespace quenlit
