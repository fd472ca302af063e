#pragma once

// The largest clipboard history the program keeps, as the panel's benchmarks use it: 200 entries,
// 170 texts of 100,000 characters and 30 images (the store's limits: 200 entries, of which at most
// 30 images; texts up to 100,000 characters). The texts mix 1-, 2- and 3-byte UTF-8 with a line
// break every 80 characters; the images are spread through the list, every seventh entry from the
// fourth on, then the oldest texts made images until there are 30. Entry 0 is the newest.
//
// The texts are drawn from a fixed seed with a cheap generator: the history is the same on every
// run, and making its 17 MB takes a fraction of a second.

#include "base/Uuid.h"
#include "clipboard/ClipboardItem.h"
#include "clipboard/HistoryJson.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::bench {

struct HistoryEntry {
    Uuid id;
    bool isImage = false;
    std::string text;  // empty for images
};

inline constexpr int kLargestHistoryEntries = 200;
inline constexpr int kLargestHistoryImages = 30;
inline constexpr std::size_t kLargestTextCharacters = 100000;

// One text of `characters` user-perceived characters: 70 % one byte, 20 % two bytes, 10 % three.
inline std::string benchText(std::minstd_rand& rng, std::size_t characters) {
    static const char* const pieces[] = {"a", "e",  "t",  "o", "n", " ", "s", "r",
                                         "H", "1",  "\"", "/", "é", "ü", "ж", "ß",  // two bytes
                                         "€", "中", "あ"};                          // three bytes
    static const std::array<int, 19> weights = {7, 7, 7, 7, 7, 7, 7, 7, 7, 4, 2, 1, 5, 5, 5, 5, 4, 3, 3};
    // A table of 100 slots, each piece in as many as its weight: one draw picks a piece.
    static const std::array<const char*, 100> table = [] {
        std::array<const char*, 100> t{};
        std::size_t slot = 0;
        for (std::size_t piece = 0; piece < weights.size(); ++piece)
            for (int n = 0; n < weights[piece]; ++n)
                t[slot++] = pieces[piece];
        return t;
    }();
    std::string out;
    out.reserve(characters * 2);
    for (std::size_t i = 0; i < characters; ++i)
        out += (i % 80 == 79) ? "\n" : table[rng() % 100];
    return out;
}

inline std::vector<HistoryEntry> largestHistory() {
    std::minstd_rand rng(20261207);
    std::vector<HistoryEntry> entries(kLargestHistoryEntries);
    int images = 0;
    for (int i = 0; i < kLargestHistoryEntries; ++i) {
        entries[static_cast<std::size_t>(i)].id = nameBasedUUID("panel-bench:" + std::to_string(i));
        if (i % 7 == 3 && images < kLargestHistoryImages) {
            entries[static_cast<std::size_t>(i)].isImage = true;
            ++images;
        }
    }
    for (std::size_t i = entries.size(); i-- > 0 && images < kLargestHistoryImages;) {
        if (!entries[i].isImage) {
            entries[i].isImage = true;
            ++images;
        }
    }
    for (auto& entry : entries)
        if (!entry.isImage) entry.text = benchText(rng, kLargestTextCharacters);
    return entries;
}

namespace detail {

inline bool writePrivateFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    std::error_code ec;
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
    return out.good() && !ec;
}

}  // namespace detail

struct WrittenHistory {
    std::size_t entries = 0;
    std::size_t images = 0;
    std::size_t fileBytes = 0;
};

// Writes the history where a store with `dataDir` as its data folder reads it: the history file
// through the program's own encoder, and `png` as the file of every image entry, in the images
// folder beside it, named as the store names them. The entries are half an hour apart, the newest
// at `now`, so the list shows several date headings. Nothing when a file could not be written.
inline std::optional<WrittenHistory> writeLargestHistory(const std::filesystem::path& dataDir,
                                                         std::string_view png,
                                                         std::chrono::system_clock::time_point now) {
    namespace fs = std::filesystem;
    const fs::path images = dataDir / "images";
    std::error_code ec;
    fs::create_directories(images, ec);
    fs::permissions(dataDir, fs::perms::owner_all, ec);
    fs::permissions(images, fs::perms::owner_all, ec);
    now = std::chrono::time_point_cast<std::chrono::seconds>(now);

    WrittenHistory written;
    std::vector<ClipboardItem> items;
    for (auto& entry : largestHistory()) {
        const auto createdAt = now - std::chrono::minutes(30) * static_cast<int>(items.size());
        if (entry.isImage) {
            const fs::path file = images / (entry.id.toString() + ".png");
            if (!detail::writePrivateFile(file, png)) return std::nullopt;
            items.push_back(ClipboardItem::makeImage(entry.id, file.string(), createdAt));
            ++written.images;
        } else {
            items.push_back(ClipboardItem::makeText(entry.id, std::move(entry.text), createdAt));
        }
    }
    const std::string json = historyJson::encode(items);
    if (!detail::writePrivateFile(dataDir / "clipboard-history.json", json)) return std::nullopt;
    written.entries = items.size();
    written.fileBytes = json.size();
    return written;
}

}  // namespace quenlit::bench
