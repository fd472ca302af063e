#pragma once

// An in-memory clipboard: tests put content on it as another program would (copy), and read back
// what the program wrote.

#include "platform/Pasteboard.h"

namespace quenlit::fake {

class FakePasteboard final : public platform::Pasteboard {
  public:
    // Another program copies: new content, one change.
    void copy(std::vector<platform::PasteboardItem> items, std::vector<std::string> extraTypes = {});
    void copyText(const std::string& text, std::vector<std::string> extraTypes = {});
    // Legacy file list offered as a type of its own.
    std::optional<std::vector<std::string>> legacyList;

    long changeCount() override { return changeCount_; }
    std::vector<std::string> types() override { return types_; }
    std::vector<platform::PasteboardItem> items() override { return items_; }
    std::optional<std::string> data(std::string_view type) override;
    std::optional<std::string> string(std::string_view type) override;
    std::optional<std::vector<std::string>> legacyFilenames() override { return legacyList; }

    long clearContents() override;
    void declareTypes(const std::vector<std::string>& types) override;
    bool setData(std::string_view data, std::string_view type) override;
    bool setString(std::string_view text, std::string_view type) override;

  private:
    long changeCount_ = 0;
    std::vector<std::string> types_;
    std::vector<platform::PasteboardItem> items_;
};

}  // namespace quenlit::fake
