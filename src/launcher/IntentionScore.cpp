#include "launcher/IntentionScore.h"

namespace quenlit::IntentionScore {

std::int64_t score(const text::FoldedText& q, const text::FoldedText& n, const text::FoldedText& s,
                   const std::vector<text::FoldedText::Word>& words) {
    if (q.empty()) return 0;
    if (n == q) return 100000;
    if (s == q) return 99000;
    if (text::startsWith(n, q)) return 80000 - static_cast<std::int64_t>(n.length());
    const char first = q.bytes().front();
    for (const auto& word : words) {
        if (s.bytes()[word.begin] == first && text::startsWith(s, word, q)) {
            return 70000 - static_cast<std::int64_t>(word.length);
        }
    }
    // Once the query occurs in the name the search text is not consulted, even when a late
    // position leaves nothing of the score.
    if (auto pos = text::find(n, q)) {
        return 30000 - 1000 * static_cast<std::int64_t>(*pos) - static_cast<std::int64_t>(n.length());
    }
    if (auto pos = text::find(s, q)) return 20000 - 1000 * static_cast<std::int64_t>(*pos);
    return 0;
}

std::int64_t score(std::string_view query, std::string_view name, std::string_view searchText) {
    const text::FoldedText q(text::trim(query));
    const text::FoldedText s(searchText);
    return score(q, text::FoldedText(name), s, s.words());
}

}  // namespace quenlit::IntentionScore
