#include "core/telemetry/TelemetrySnapshot.h"

#include <cmath>
#include <optional>

namespace ventoral {
namespace {

constexpr double fallbackCPUTemperature = 45.0;

std::optional<double> hottest(const std::vector<ThermalSensor>& sensors,
                              std::optional<SensorCategory> category) {
    std::optional<double> best;
    for (const auto& sensor : sensors) {
        if (category && sensor.category != *category) {
            continue;
        }
        if (isPlausibleTemperature(sensor.temperature) && (!best || sensor.temperature > *best)) {
            best = sensor.temperature;
        }
    }
    return best;
}

} // namespace

bool isPlausibleTemperature(double celsius) {
    return std::isfinite(celsius) && celsius > 10.0 && celsius < 125.0;
}

double TelemetrySnapshot::cpuTemperature() const {
    double sum = 0;
    int count = 0;
    for (const auto& sensor : sensors) {
        if (sensor.category == SensorCategory::cpu && isPlausibleTemperature(sensor.temperature)) {
            sum += sensor.temperature;
            ++count;
        }
    }
    if (count > 0) {
        return sum / count;
    }
    return hottest(sensors, std::nullopt).value_or(fallbackCPUTemperature);
}

double TelemetrySnapshot::gpuTemperature() const {
    if (auto value = hottest(sensors, SensorCategory::gpu)) {
        return *value;
    }
    return cpuTemperature() * 0.95;
}

double TelemetrySnapshot::aneTemperature() const {
    if (auto value = hottest(sensors, SensorCategory::ane)) {
        return *value;
    }
    return cpuTemperature() * 0.9;
}

} // namespace ventoral
