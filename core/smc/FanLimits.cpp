#include "core/smc/FanLimits.h"

namespace ventoral {

const char* limitsSourceText(FanLimitsSource source) {
    switch (source) {
    case FanLimitsSource::driver:
        return "given by the driver";
    case FanLimitsSource::measured:
        return "measured";
    case FanLimitsSource::assumed:
        break;
    }
    return "assumed";
}

std::string noCalibrationNeeded(const FanLimitsInfo& fan) {
    const std::string name = fan.name.empty() ? "Fan " + std::to_string(fan.index) : fan.name;
    return name + " needs no calibration: " +
           (fan.source == FanLimitsSource::driver ? "its driver gives its limits"
                                                  : "it is not steered by a duty");
}

std::string noSuchFan(std::int64_t index) {
    return "There is no fan " + std::to_string(index);
}

std::string noCalibrationNeeded(std::int64_t index) {
    return "Fan " + std::to_string(index) +
           " needs no calibration: this controller reports its own limits";
}

} // namespace ventoral
