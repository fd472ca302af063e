#pragma once

#include "base/Text.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace quenlit::IntentionScore {

// How well a typed query names an item: exact name, exact search text, name prefix, word prefix,
// name substring, search-text substring, in that order of preference. Zero when nothing matches.
std::int64_t score(std::string_view query, std::string_view name, std::string_view searchText);

// The same on prepared text: the query folded once, the item's name and search text (with its
// words) folded when the item was made.
std::int64_t score(const text::FoldedText& query, const text::FoldedText& name,
                   const text::FoldedText& searchText, const std::vector<text::FoldedText::Word>& words);

}  // namespace quenlit::IntentionScore
