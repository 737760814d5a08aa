#pragma once

#include "core/smc/FanLimits.h"
#include "platform/hwmon/FanCalibrationStore.h"
#include "platform/hwmon/FanDutyMap.h"
#include "platform/hwmon/HwmonInventory.h"

#include <optional>
#include <string>
#include <vector>

namespace ventoral {

// The speeds assumed for a fan nobody measured, and the duty it is never driven below then:
// most fans keep turning at 30 %.
inline constexpr float assumedSlowestRPM = 1200;
inline constexpr float assumedFastestRPM = 6500;
inline constexpr int uncalibratedFloorDuty = 77;

// How the virtual controller steers one fan and what it says of its limits.
struct HwmonFanSteering {
    FanLimitsInfo info;
    std::optional<FanDutyMap> duty; // for a fan steered by its pwm duty
    friend bool operator==(const HwmonFanSteering&, const HwmonFanSteering&) = default;
};

// The hardware's own name for the fan: its driver's label, a graphics card or single-fan
// device by its device, else chip and channel. None on applesmc, whose keys' names hold.
std::optional<std::string> hwmonFanName(const HwmonFanChannel& fan, int fansOnChip);

// Limits from the driver where its files mean them, else from the fan's calibration, else
// assumed; reads the driver's files.
HwmonFanSteering hwmonFanSteering(const HwmonFanChannel& fan,
                                  const std::vector<FanCalibration>& calibrations);

} // namespace ventoral
