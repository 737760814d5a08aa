#include "core/menubar/MenuBarLabel.h"

#include "core/common/Format.h"
#include "core/power/PowerFormatters.h"

#include <cmath>
#include <vector>

namespace ventoral {
namespace {

long long roundedInteger(double value) {
    return std::isfinite(value) ? static_cast<long long>(roundHalfAway(value)) : 0;
}

} // namespace

std::string menuBarLabelText(const MenuBarDisplaySettings& m, const MenuBarLabelReadings& r,
                             const GroupedInteger& grouped) {
    std::vector<std::string> parts;
    if (m.showPercentage) {
        parts.push_back(std::to_string(r.fanPercentage) + "%");
    }
    if (m.showRPM) {
        parts.push_back(grouped(roundedInteger(r.averageRPM)) + " RPM");
    }
    if (m.showCPUTemp) {
        parts.push_back(std::to_string(roundedInteger(r.cpuTemperature)) + "\u00B0C");
    }
    if (m.showGPUTemp) {
        parts.push_back("GPU " + std::to_string(roundedInteger(r.gpuTemperature)) + "\u00B0C");
    }
    if (m.showPowerWatts && r.watts) {
        parts.push_back(PowerFormatters::compactMenuBarWatts(*r.watts));
    }
    if (m.showBatteryPercent && r.batteryPercentage) {
        parts.push_back(std::to_string(*r.batteryPercentage) + "%");
    }
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += (i ? " \u2022 " : "") + parts[i];
    }
    return text;
}

} // namespace ventoral
