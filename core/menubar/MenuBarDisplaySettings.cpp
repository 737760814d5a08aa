#include "core/menubar/MenuBarDisplaySettings.h"

#include <string>

namespace ventoral {
namespace {

template <typename E> struct Names {
    E value;
    const char* raw;
    const char* title;
};

constexpr Names<MenuBarIconStyle> iconStyles[] = {
    {MenuBarIconStyle::trioRing, "trioRing", "Trio Ring"},
    {MenuBarIconStyle::fanBlades, "fanBlades", "Classic Fan"},
};
constexpr Names<TrioTopBatteryStyle> topStyles[] = {
    {TrioTopBatteryStyle::smart, "smart", "Bolt / Plug"},
    {TrioTopBatteryStyle::percentage, "percentage", "Battery %"},
    {TrioTopBatteryStyle::ringOnly, "ringOnly", "Ring Only"},
};
constexpr Names<TrioCenterSlot> centerSlots[] = {
    {TrioCenterSlot::fanGlyph, "fanGlyph", "Fan Icon"},
    {TrioCenterSlot::powerWatts, "powerWatts", "Power (W)"},
    {TrioCenterSlot::batteryPercent, "batteryPercent", "Battery %"},
    {TrioCenterSlot::fanPercent, "fanPercent", "Fan %"},
};
constexpr Names<TrioBottomStyle> bottomStyles[] = {
    {TrioBottomStyle::dots, "dots", "4 Dots"},
    {TrioBottomStyle::arc, "arc", "Fan Arc"},
    {TrioBottomStyle::hidden, "hidden", "Hidden"},
};

template <typename E, std::size_t N> const Names<E>& lookup(const Names<E> (&table)[N], E value) {
    return table[static_cast<std::size_t>(value)];
}

constexpr std::string_view context = "MenuBarDisplaySettings";

const Json* presentMember(const Json& json, const char* key) {
    auto it = json.find(key);
    if (it == json.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

void decodeFlag(const Json& json, const char* key, bool& field) {
    if (const Json* value = presentMember(json, key)) {
        field = json::decodeBool(*value, std::string(context) + "." + key);
    }
}

template <typename E, std::size_t N>
void decodeChoice(const Json& json, const char* key, const Names<E> (&table)[N], E& field) {
    const Json* value = presentMember(json, key);
    if (!value) {
        return;
    }
    auto raw = json::decodeString(*value, std::string(context) + "." + key);
    for (const auto& row : table) {
        if (raw == row.raw) {
            field = row.value;
            return;
        }
    }
    throw DecodingError(std::string(context) + "." + key + ": unknown value \"" + raw + "\"");
}

} // namespace

std::string_view rawValue(MenuBarIconStyle v) {
    return lookup(iconStyles, v).raw;
}
std::string_view rawValue(TrioTopBatteryStyle v) {
    return lookup(topStyles, v).raw;
}
std::string_view rawValue(TrioCenterSlot v) {
    return lookup(centerSlots, v).raw;
}
std::string_view rawValue(TrioBottomStyle v) {
    return lookup(bottomStyles, v).raw;
}
std::string_view title(MenuBarIconStyle v) {
    return lookup(iconStyles, v).title;
}
std::string_view title(TrioTopBatteryStyle v) {
    return lookup(topStyles, v).title;
}
std::string_view title(TrioCenterSlot v) {
    return lookup(centerSlots, v).title;
}
std::string_view title(TrioBottomStyle v) {
    return lookup(bottomStyles, v).title;
}

bool MenuBarDisplaySettings::hasAnyTextMetric() const {
    return showPercentage || showRPM || showCPUTemp || showGPUTemp || showPowerWatts ||
           showBatteryPercent;
}

MenuBarDisplaySettings MenuBarDisplaySettings::sanitized() const {
    MenuBarDisplaySettings copy = *this;
    if (!copy.showIcon && !copy.hasAnyTextMetric()) {
        copy.showIcon = true;
    }
    return copy;
}

Json toJson(const MenuBarDisplaySettings& s) {
    Json json = Json::object();
    json["showIcon"] = s.showIcon;
    json["iconStyle"] = std::string(rawValue(s.iconStyle));
    json["trioTopStyle"] = std::string(rawValue(s.trioTopStyle));
    json["trioCenterSlot"] = std::string(rawValue(s.trioCenterSlot));
    json["trioBottomStyle"] = std::string(rawValue(s.trioBottomStyle));
    json["showPercentage"] = s.showPercentage;
    json["showRPM"] = s.showRPM;
    json["showCPUTemp"] = s.showCPUTemp;
    json["showGPUTemp"] = s.showGPUTemp;
    json["showPowerWatts"] = s.showPowerWatts;
    json["showBatteryPercent"] = s.showBatteryPercent;
    return json;
}

MenuBarDisplaySettings menuBarDisplaySettingsFromJson(const Json& json) {
    json::requireObject(json, context);
    MenuBarDisplaySettings s;
    decodeFlag(json, "showIcon", s.showIcon);
    decodeChoice(json, "iconStyle", iconStyles, s.iconStyle);
    decodeChoice(json, "trioTopStyle", topStyles, s.trioTopStyle);
    decodeChoice(json, "trioCenterSlot", centerSlots, s.trioCenterSlot);
    decodeChoice(json, "trioBottomStyle", bottomStyles, s.trioBottomStyle);
    decodeFlag(json, "showPercentage", s.showPercentage);
    decodeFlag(json, "showRPM", s.showRPM);
    decodeFlag(json, "showCPUTemp", s.showCPUTemp);
    decodeFlag(json, "showGPUTemp", s.showGPUTemp);
    decodeFlag(json, "showPowerWatts", s.showPowerWatts);
    decodeFlag(json, "showBatteryPercent", s.showBatteryPercent);
    // Records from before icon styles existed always show the icon.
    if (json.find("iconStyle") == json.end()) {
        s.showIcon = true;
    }
    return s;
}

} // namespace ventoral
