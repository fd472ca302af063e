#pragma once

// The launcher's rows for a query: the calculator answer, the quit command, the matching window
// commands, then applications, profiles and folders by score. An empty query lists the running
// applications to switch to instead. Pure functions; they run on every keystroke.

#include "launcher/AppItem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::AppSearch {

// `folders` absent means the built-in folder shortcuts. `frontmostPath` and `selfPath` are the
// paths of the application in front and of Quenlit itself. Without `windowCommands` (a desktop
// that does not let other programs move windows) no window command is offered.
std::vector<AppItem> results(std::string_view query, const std::vector<AppItem>& apps,
                             const std::vector<AppItem>* folders,
                             const std::optional<std::string>& frontmostPath,
                             const std::optional<std::string>& selfPath, bool windowCommands = true);
// The same rows with the applications ranked plainly, every item scored: the reference that
// results() is checked against.
std::vector<AppItem> resultsByScoringAll(std::string_view query, const std::vector<AppItem>& apps,
                                         const std::vector<AppItem>* folders,
                                         const std::optional<std::string>& frontmostPath,
                                         const std::optional<std::string>& selfPath,
                                         bool windowCommands = true);
// Whether the query would list a window command.
bool matchesWindowCommand(std::string_view query);

std::vector<AppItem> rank(std::string_view query, const std::vector<AppItem>& apps);

// A ranked row with its score (bonuses for running applications and profiles included).
struct Ranked {
    const AppItem* item;
    std::int64_t score;
    bool operator==(const Ranked&) const = default;
};
// The ranking rank() returns, with the scores. Items that cannot match are passed over on their
// prepared keys before any scoring.
std::vector<Ranked> ranked(std::string_view query, const std::vector<AppItem>& apps);
// The same ranking computed plainly, every item scored: the reference for the one above.
std::vector<Ranked> rankedByScoringAll(std::string_view query, const std::vector<AppItem>& apps);

std::vector<AppItem> switchSuggestions(const std::vector<AppItem>& apps,
                                       const std::optional<std::string>& frontmostPath,
                                       const std::optional<std::string>& selfPath);

std::vector<AppItem> excludingSelf(const std::vector<AppItem>& apps,
                                   const std::optional<std::string>& selfPath);

bool matchesQuitCommand(std::string_view query);

// The folder items of the built-in shortcuts, made once.
const std::vector<AppItem>& builtInFolderItems();

}  // namespace quenlit::AppSearch
