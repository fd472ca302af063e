#pragma once

// An in-memory clipboard: tests put content on it as another program would (copy), and read back
// what the program wrote. With `announcing` set, the changes other programs make are announced at
// once, as X11 and sway do; without it they are only seen through the change count.

#include "platform/Pasteboard.h"

namespace quenlit::fake {

class FakePasteboard final : public platform::Pasteboard {
  public:
    // Another program copies: new content, one change.
    void copy(std::vector<platform::PasteboardItem> items, std::vector<std::string> extraTypes = {});
    void copyText(const std::string& text, std::vector<std::string> extraTypes = {});
    // Another program empties the clipboard on purpose.
    void clearByAnotherProgram();
    // The owner exits: its content goes with it.
    void ownerExits();
    // Announces a change (when announcing), as the desktop does for our own writes too.
    void announce(platform::PasteboardChange change);
    bool announcing = false;
    // Legacy file list offered as a type of its own.
    std::optional<std::vector<std::string>> legacyList;

    bool announcesChanges() const override { return announcing; }
    long changeCount() override { return changeCount_; }
    std::vector<std::string> types() override { return types_; }
    std::vector<platform::PasteboardItem> items() override { return items_; }
    std::optional<std::string> data(std::string_view type) override;
    std::optional<std::string> string(std::string_view type) override;
    std::optional<std::vector<std::string>> legacyFilenames() override { return legacyList; }

    Result<> write(const std::vector<platform::PasteboardOffer>& offers) override;
    // Empties the clipboard, as a program that clears it does, without announcing it.
    void clearContents();
    // write() fails with this, leaving the clipboard as it was.
    std::optional<std::string> writeFailure;

  private:
    void empty();

    long changeCount_ = 0;
    std::vector<std::string> types_;
    std::vector<platform::PasteboardItem> items_;
};

}  // namespace quenlit::fake
