#pragma once

// The CLIPBOARD selection through Qt: the change count follows Qt's change notifications (our
// own writes included), reads go to the owner through Qt, and writes publish one QMimeData that
// holds exactly the declared types. Main thread only.

#include "platform/Pasteboard.h"

#include <memory>

class QObject;
class QMimeData;

namespace quenlit::x11 {

class QtPasteboard final : public platform::Pasteboard {
  public:
    QtPasteboard();  // after the QGuiApplication exists
    ~QtPasteboard() override;

    long changeCount() override { return changeCount_; }
    std::vector<std::string> types() override;
    std::vector<platform::PasteboardItem> items() override;
    std::optional<std::string> data(std::string_view type) override;
    std::optional<std::string> string(std::string_view type) override;
    std::optional<std::vector<std::string>> legacyFilenames() override;

    long clearContents() override;
    void declareTypes(const std::vector<std::string>& types) override;
    bool setData(std::string_view data, std::string_view type) override;
    bool setString(std::string_view text, std::string_view type) override;

  private:
    void publish();

    long changeCount_ = 0;
    std::unique_ptr<QObject> context_;
    std::vector<std::string> declared_;
    std::vector<std::pair<std::string, std::string>> pending_;
};

// "copy\nfile:///a\nfile:///b" (GNOME's list of copied files) as local paths.
std::vector<std::string> parseGnomeCopiedFiles(std::string_view text);

}  // namespace quenlit::x11
