#include "platform/hwmon/HwmonFanLimits.h"

#include "core/common/Format.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/sysfs/SysfsFiles.h"

#include <algorithm>

namespace ventoral {
namespace {

bool isOneOf(const std::string& chip, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return chip == n; });
}

// Drivers whose fanN_min and fanN_max are the fan's real range rather than alarm thresholds.
bool driverGivesLimits(const HwmonFanChannel& fan) {
    return isOneOf(fan.chip, {"applesmc", "amdgpu", "dell_smm"}) || fan.target.has_value();
}

std::optional<float> speedFile(const std::optional<std::string>& path, bool zeroMeansSomething) {
    auto value = path ? sysfs::readInteger(*path) : std::nullopt;
    if (!value || *value < 0 || *value >= 100000 || (*value == 0 && !zeroMeansSomething)) {
        return std::nullopt;
    }
    return static_cast<float>(*value);
}

} // namespace

std::optional<std::string> hwmonFanName(const HwmonFanChannel& fan, int fansOnChip) {
    if (fan.chip == "applesmc") {
        return std::nullopt;
    }
    if (fan.label) {
        if (auto label = sysfs::readText(*fan.label); label && !trimWhitespace(*label).empty()) {
            return std::string(trimWhitespace(*label));
        }
    }
    const std::string number = fansOnChip > 1 ? " " + std::to_string(fan.number) : "";
    if (isOneOf(fan.chip, {"amdgpu", "radeon", "nouveau", "i915", "xe"})) {
        return "GPU Fan" + number + " (" + fan.chip + ")";
    }
    if (fansOnChip <= 1) {
        return "Fan (" + fan.chip + ")";
    }
    return fan.chip + " Fan" + number;
}

HwmonFanSteering hwmonFanSteering(const HwmonFanChannel& fan,
                                  const std::vector<FanCalibration>& calibrations) {
    HwmonFanSteering steering;
    const bool byDuty = fan.pwm && !hwmonTargetFile(fan);
    if (driverGivesLimits(fan)) {
        steering.info.minimum = speedFile(fan.min, true);
        steering.info.maximum = speedFile(fan.max, false);
    }
    if (steering.info.minimum || steering.info.maximum) {
        steering.info.source = FanLimitsSource::driver;
        if (byDuty) {
            steering.duty = FanDutyMap::linear(0, steering.info.minimum.value_or(0),
                                               steering.info.maximum.value_or(assumedFastestRPM));
        }
        return steering;
    }
    if (!byDuty) {
        return steering; // steered by its target, or not at all
    }
    steering.info.calibratable = true;
    auto calibration = std::find_if(calibrations.begin(), calibrations.end(), [&](const auto& c) {
        return c.identifies(fan.devicePath, fan.chip, fan.number);
    });
    if (calibration != calibrations.end()) {
        steering.info.source = FanLimitsSource::measured;
        steering.info.minimum = calibration->minimumRPM;
        steering.info.maximum = calibration->maximumRPM;
        steering.duty = calibration->dutyMap();
        return steering;
    }
    steering.duty = FanDutyMap::linear(uncalibratedFloorDuty, assumedSlowestRPM, assumedFastestRPM);
    return steering;
}

} // namespace ventoral
