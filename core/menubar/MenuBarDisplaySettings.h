#pragma once

#include "core/common/Json.h"

#include <array>
#include <optional>
#include <string_view>

namespace ventoral {

enum class MenuBarIconStyle { trioRing, fanBlades };
enum class TrioTopBatteryStyle { smart, percentage, ringOnly };
enum class TrioCenterSlot { fanGlyph, powerWatts, batteryPercent, fanPercent };
enum class TrioBottomStyle { dots, arc, hidden };

inline constexpr std::array<MenuBarIconStyle, 2> allMenuBarIconStyles{MenuBarIconStyle::trioRing,
                                                                      MenuBarIconStyle::fanBlades};
inline constexpr std::array<TrioTopBatteryStyle, 3> allTrioTopBatteryStyles{
    TrioTopBatteryStyle::smart, TrioTopBatteryStyle::percentage, TrioTopBatteryStyle::ringOnly};
inline constexpr std::array<TrioCenterSlot, 4> allTrioCenterSlots{
    TrioCenterSlot::fanGlyph, TrioCenterSlot::powerWatts, TrioCenterSlot::batteryPercent,
    TrioCenterSlot::fanPercent};
inline constexpr std::array<TrioBottomStyle, 3> allTrioBottomStyles{
    TrioBottomStyle::dots, TrioBottomStyle::arc, TrioBottomStyle::hidden};

// Raw values equal the case names and double as `id`; titles caption the settings pickers.
std::string_view rawValue(MenuBarIconStyle value);
std::string_view rawValue(TrioTopBatteryStyle value);
std::string_view rawValue(TrioCenterSlot value);
std::string_view rawValue(TrioBottomStyle value);
std::string_view title(MenuBarIconStyle value);
std::string_view title(TrioTopBatteryStyle value);
std::string_view title(TrioCenterSlot value);
std::string_view title(TrioBottomStyle value);

// What the status item shows.
struct MenuBarDisplaySettings {
    bool showIcon = true;
    MenuBarIconStyle iconStyle = MenuBarIconStyle::trioRing;
    TrioTopBatteryStyle trioTopStyle = TrioTopBatteryStyle::smart;
    TrioCenterSlot trioCenterSlot = TrioCenterSlot::fanGlyph;
    TrioBottomStyle trioBottomStyle = TrioBottomStyle::dots;
    bool showPercentage = true;
    bool showRPM = false;
    bool showCPUTemp = true;
    bool showGPUTemp = false;
    bool showPowerWatts = false;
    bool showBatteryPercent = false;

    bool hasAnyTextMetric() const;
    // Never leaves the status item empty: with no readout, the icon is shown.
    MenuBarDisplaySettings sanitized() const;

    friend bool operator==(const MenuBarDisplaySettings&, const MenuBarDisplaySettings&) = default;
};

Json toJson(const MenuBarDisplaySettings& settings);
// Absent or null members take their defaults; wrong types and unknown names fail the record.
MenuBarDisplaySettings menuBarDisplaySettingsFromJson(const Json& json);

} // namespace ventoral
