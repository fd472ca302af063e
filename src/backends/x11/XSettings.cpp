#include "backends/x11/XSettings.h"

namespace quenlit::x11 {
namespace {

// Reads the data front to back; every read checks the bounds, so a truncated or lying property
// ends the walk instead of reading past its end.
class Reader {
  public:
    Reader(std::span<const std::uint8_t> data, bool bigEndian) : data_(data), bigEndian_(bigEndian) {}

    bool skip(std::size_t n) {
        if (n > data_.size() - at_) return false;
        at_ += n;
        return true;
    }
    std::optional<std::uint8_t> u8() {
        if (at_ >= data_.size()) return std::nullopt;
        return data_[at_++];
    }
    std::optional<std::uint32_t> number(std::size_t width) {
        if (width > data_.size() - at_) return std::nullopt;
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::uint32_t byte = data_[at_ + (bigEndian_ ? i : width - 1 - i)];
            v = (v << 8) | byte;
        }
        at_ += width;
        return v;
    }
    // `length` bytes, then padding to the next multiple of four.
    std::optional<std::string_view> padded(std::uint32_t length) {
        const std::size_t total = (static_cast<std::size_t>(length) + 3) & ~std::size_t{3};
        if (total > data_.size() - at_) return std::nullopt;
        std::string_view s(reinterpret_cast<const char*>(data_.data() + at_), length);
        at_ += total;
        return s;
    }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t at_ = 0;
    bool bigEndian_;
};

enum SettingType : std::uint8_t { integer = 0, string = 1, color = 2 };

}  // namespace

std::optional<std::string> xsettingsString(std::span<const std::uint8_t> data, std::string_view name) {
    if (data.empty() || (data[0] != 0 && data[0] != 1)) return std::nullopt;  // LSBFirst, MSBFirst
    Reader in(data, data[0] == 1);
    if (!in.skip(4) || !in.number(4)) return std::nullopt;  // byte order and padding, serial
    const auto count = in.number(4);
    if (!count) return std::nullopt;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const auto type = in.u8();
        if (!type || !in.skip(1)) return std::nullopt;
        const auto nameLength = in.number(2);
        if (!nameLength) return std::nullopt;
        const auto settingName = in.padded(*nameLength);
        if (!settingName || !in.number(4)) return std::nullopt;  // last-change serial
        switch (*type) {
            case integer:
                if (!in.skip(4)) return std::nullopt;
                break;
            case string: {
                const auto length = in.number(4);
                if (!length) return std::nullopt;
                const auto value = in.padded(*length);
                if (!value) return std::nullopt;
                if (*settingName == name) return std::string(*value);
                break;
            }
            case color:
                if (!in.skip(8)) return std::nullopt;
                break;
            default:
                return std::nullopt;  // the size of an unknown type is unknown: stop
        }
    }
    return std::nullopt;
}

std::optional<std::string> readXSettingsString(X11Connection& connection, std::string_view name) {
    int screenNumber = 0;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection.raw())); it.rem > 0;
         xcb_screen_next(&it), ++screenNumber) {
        if (it.data->root == connection.root()) break;
    }
    const xcb_atom_t selection = connection.atom("_XSETTINGS_S" + std::to_string(screenNumber));
    Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        connection.raw(), xcb_get_selection_owner(connection.raw(), selection), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE) return std::nullopt;
    const xcb_atom_t settings = connection.atom("_XSETTINGS_SETTINGS");
    const auto data = connection.property(owner->owner, settings, settings);
    if (!data) return std::nullopt;
    return xsettingsString(*data, name);
}

}  // namespace quenlit::x11
