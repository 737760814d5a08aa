#pragma once

#include "core/menubar/MenuBarDisplaySettings.h"
#include "core/power/BatteryStateSnapshot.h"
#include "core/power/PowerTelemetrySnapshot.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace ventoral {

// Everything the Trio icon shows; equal keys draw equal icons.
struct TrioIconRenderKey {
    int pointSize = 12;
    bool isDarkAppearance = false;
    bool batteryPresent = false;
    int batteryPercent = 0;
    bool isCharging = false;
    bool isConnectedToPower = false;
    bool isLowPowerMode = false;
    TrioTopBatteryStyle topStyle = TrioTopBatteryStyle::smart;
    TrioCenterSlot centerSlot = TrioCenterSlot::fanGlyph;
    TrioBottomStyle bottomStyle = TrioBottomStyle::dots;
    std::string centerText;
    int fanPercentage = 0;
    bool isManualOverride = false;

    friend bool operator==(const TrioIconRenderKey&, const TrioIconRenderKey&) = default;
};

struct TrioIconRenderKeyHash {
    std::size_t operator()(const TrioIconRenderKey& key) const;
};

namespace TrioMenuBarIconRenderer {

// The key for the current readings. Without an appearance, `currentSystemIsDark` decides.
TrioIconRenderKey makeKey(double pointSize, std::optional<bool> isDarkAppearance,
                          const MenuBarDisplaySettings& settings,
                          const BatteryStateSnapshot& battery, const PowerTelemetrySnapshot& power,
                          int fanPercentage, bool isManualOverride,
                          const std::function<bool()>& currentSystemIsDark = nullptr);

} // namespace TrioMenuBarIconRenderer

} // namespace ventoral
