#pragma once

#include "core/common/Clock.h"
#include "core/telemetry/FanInfo.h"
#include "core/telemetry/ThermalSensor.h"

#include <vector>

namespace ventoral {

struct TelemetrySnapshot {
    std::vector<FanInfo> fans;
    std::vector<ThermalSensor> sensors;
    TimePoint timestamp{};

    // Summary temperatures in °C over the plausible readings (finite, above 10, below 125).
    // CPU is a mean of CPU channels; GPU and Neural Engine are maxima.
    double cpuTemperature() const;
    double gpuTemperature() const;
    double aneTemperature() const;

    friend bool operator==(const TelemetrySnapshot&, const TelemetrySnapshot&) = default;
};

bool isPlausibleTemperature(double celsius);

} // namespace ventoral
