#pragma once

#include "core/menubar/MenuBarDisplaySettings.h"

#include <functional>
#include <optional>
#include <string>

namespace ventoral {

// What the menu-bar label can show, as the engine last read it.
struct MenuBarLabelReadings {
    int fanPercentage = 0;
    float averageRPM = 0;
    double cpuTemperature = 0;
    double gpuTemperature = 0;
    std::optional<double> watts;          // none: nothing measured
    std::optional<int> batteryPercentage; // none: no battery
};

// An integer with the user's digit grouping ("2,150" in English).
using GroupedInteger = std::function<std::string(long long)>;

// The parts the settings switch on, in their fixed order, joined with " • ".
std::string menuBarLabelText(const MenuBarDisplaySettings& settings,
                             const MenuBarLabelReadings& readings, const GroupedInteger& grouped);

} // namespace ventoral
