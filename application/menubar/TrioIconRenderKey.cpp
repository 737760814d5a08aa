#include "application/menubar/TrioIconRenderKey.h"

#include "core/common/Format.h"

#include <algorithm>
#include <cmath>

namespace ventoral {

std::size_t TrioIconRenderKeyHash::operator()(const TrioIconRenderKey& k) const {
    std::size_t h = std::hash<std::string>()(k.centerText);
    auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    for (std::size_t v :
         {static_cast<std::size_t>(k.pointSize), static_cast<std::size_t>(k.isDarkAppearance),
          static_cast<std::size_t>(k.batteryPresent), static_cast<std::size_t>(k.batteryPercent),
          static_cast<std::size_t>(k.isCharging), static_cast<std::size_t>(k.isConnectedToPower),
          static_cast<std::size_t>(k.isLowPowerMode), static_cast<std::size_t>(k.topStyle),
          static_cast<std::size_t>(k.centerSlot), static_cast<std::size_t>(k.bottomStyle),
          static_cast<std::size_t>(k.fanPercentage),
          static_cast<std::size_t>(k.isManualOverride)}) {
        mix(v);
    }
    return h;
}

namespace TrioMenuBarIconRenderer {

TrioIconRenderKey makeKey(double pointSize, std::optional<bool> isDarkAppearance,
                          const MenuBarDisplaySettings& settings,
                          const BatteryStateSnapshot& battery, const PowerTelemetrySnapshot& power,
                          int fanPercentage, bool isManualOverride,
                          const std::function<bool()>& currentSystemIsDark) {
    TrioIconRenderKey key;
    const double rounded = std::isfinite(pointSize) ? roundHalfAway(pointSize) : 12;
    key.pointSize = static_cast<int>(std::clamp(rounded, 12.0, 4096.0));
    key.isDarkAppearance =
        isDarkAppearance ? *isDarkAppearance : (currentSystemIsDark && currentSystemIsDark());
    key.batteryPresent = battery.isPresent;
    key.batteryPercent = std::clamp(battery.percentage, 0, 100);
    key.isCharging = battery.isCharging;
    key.isConnectedToPower = battery.isConnectedToPower;
    key.isLowPowerMode = battery.isLowPowerMode;
    key.topStyle = settings.trioTopStyle;
    key.centerSlot = settings.trioCenterSlot;
    key.bottomStyle = settings.trioBottomStyle;
    switch (settings.trioCenterSlot) {
    case TrioCenterSlot::fanGlyph:
        break;
    case TrioCenterSlot::powerWatts:
        if (auto watts = power.primaryMenuBarWatts(); watts && std::isfinite(*watts)) {
            key.centerText = cformat("%.0f", roundHalfAway(std::max(*watts, 0.0))) + "W";
        } else {
            key.centerText = "\u2014W";
        }
        break;
    case TrioCenterSlot::batteryPercent:
        key.centerText = std::to_string(battery.percentage);
        break;
    case TrioCenterSlot::fanPercent:
        key.centerText = std::to_string(fanPercentage);
        break;
    }
    key.fanPercentage = std::clamp(fanPercentage, 0, 100);
    key.isManualOverride = isManualOverride;
    return key;
}

} // namespace TrioMenuBarIconRenderer

} // namespace ventoral
