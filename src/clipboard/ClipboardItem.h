#pragma once

// One entry of the clipboard history: a captured text or a captured image (a PNG file in the
// store's images folder). A value type: copies are cheap because the text is shared, immutable,
// between copies; a history can hold 200 texts of 100,000 characters and the views copy items.

#include "base/Uuid.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quenlit {

class ClipboardItem {
  public:
    enum class Kind { text, image };

    // "text" or "image": the names used in logs and in the history file.
    static std::string_view kindName(Kind kind);
    static std::optional<Kind> parseKind(std::string_view name);

    ClipboardItem() = default;
    ClipboardItem(Uuid id, Kind kind, std::string text, std::optional<std::string> imagePath,
                  std::chrono::system_clock::time_point createdAt);

    static ClipboardItem makeText(Uuid id, std::string text, std::chrono::system_clock::time_point createdAt);
    static ClipboardItem makeImage(Uuid id, std::string imagePath,
                                   std::chrono::system_clock::time_point createdAt);

    Uuid id;
    Kind kind = Kind::text;
    std::optional<std::string> imagePath;  // absolute path of the PNG file; absent for texts
    std::chrono::system_clock::time_point createdAt;

    // The captured text; empty for images.
    const std::string& text() const;
    // What filtering searches: the text lower-cased (locale-independent) when lowering changes
    // more than the letters A-Z; otherwise the text itself with `foldAscii` set (compare A-Z as
    // a-z), which spares a second copy of most texts. Worked out on first use and kept for the life
    // of the text, so filtering does not lower-case every text again on each keystroke.
    // Thread-safe.
    struct SearchText {
        const std::string& bytes;
        bool foldAscii = false;
    };
    SearchText searchText() const;
    // Whether searchText() is worked out already, so that asking costs nothing.
    bool hasSearchText() const;
    // The text as a one-line title: line breaks and tabs as spaces, trimmed, cut to its first 120
    // user-perceived characters and "…" when longer. Worked out once for the life of the text: the
    // clipboard panel asks for every row's title on each keystroke.
    const std::string& title() const;
    // How often each byte value occurs in the lowered text (A-Z counted as a-z when folded),
    // computed with searchText(): a filter starts its search at the query's rarest byte, and skips
    // a text at once when some byte never occurs.
    const std::array<std::uint32_t, 256>& loweredByteCounts() const;

    // The time for an item of today, otherwise the date (relative words such as "Yesterday" where
    // the user's locale has them), in the user's locale and time zone.
    std::string timeLabel(std::chrono::system_clock::time_point now = std::chrono::system_clock::now()) const;

    // Field by field: id, kind, text, imagePath, createdAt.
    bool operator==(const ClipboardItem& other) const;

  private:
    struct Content;
    std::shared_ptr<const Content> content_;
};

}  // namespace quenlit
