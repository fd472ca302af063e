#pragma once

// The clipboard on GNOME Wayland, through Quenlit's Shell extension: the shell announces every
// change of the owner (native and XWayland programs alike) and reads the owner's data for us.
//
// What this program writes is published once every declared type has its data, as one type, the
// best the shell can offer alone (text, else PNG, else TIFF, else the first declared): GNOME Shell
// offers one type per clipboard content it owns. While that content is the clipboard's, reads
// answer what was declared, the internal marker included, from memory.
//
// Main thread only.

#include "backends/gnome/ShellExtension.h"
#include "platform/Pasteboard.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quenlit::gnome {

class GnomePasteboard final : public platform::Pasteboard {
  public:
    explicit GnomePasteboard(ShellExtension& shell);

    bool announcesChanges() const override { return true; }
    long changeCount() override { return count_; }
    std::vector<std::string> types() override;
    std::vector<platform::PasteboardItem> items() override;
    std::optional<std::string> data(std::string_view type) override;
    std::optional<std::string> string(std::string_view type) override;
    std::optional<std::vector<std::string>> legacyFilenames() override;

    Result<> write(const std::vector<platform::PasteboardOffer>& offers) override;

    // Offers what this program last published as the primary selection too; false when the
    // clipboard holds another program's content now or the shell refused.
    bool mirrorToPrimary();

  private:
    const std::pair<std::string, std::string>* best() const;
    std::optional<std::string> read(std::string_view type, std::size_t limit);
    const std::vector<std::string>& offered();

    ShellExtension& shell_;
    Connection changes_;
    long count_ = 0;
    std::optional<std::vector<std::string>> offered_;  // the owner's types, read once per change
    // What this program published, while it owns the clipboard.
    std::optional<std::vector<std::pair<std::string, std::string>>> own_;
};

}  // namespace quenlit::gnome
