#include "core/power/PowerTelemetrySnapshot.h"

#include "core/common/Numbers.h"

#include <cmath>

namespace ventoral {

std::string USBPortPower::displayLabel() const {
    if (deviceName && !deviceName->empty()) {
        return *deviceName;
    }
    return "USB-C Port " + std::to_string(channel);
}

std::optional<double> PowerTelemetrySnapshot::signedBatteryWatts() const {
    if (!batteryVolts || !batteryAmps || !std::isfinite(*batteryVolts) ||
        !std::isfinite(*batteryAmps)) {
        return std::nullopt;
    }
    double p = *batteryVolts * *batteryAmps;
    if (!std::isfinite(p)) {
        return std::nullopt;
    }
    return p;
}

std::optional<double> PowerTelemetrySnapshot::chargingWatts() const {
    auto p = signedBatteryWatts();
    if (!p) {
        return std::nullopt;
    }
    return *p > 0.15 ? *p : 0.0;
}

std::optional<double> PowerTelemetrySnapshot::dischargingWatts() const {
    auto p = signedBatteryWatts();
    if (!p) {
        return std::nullopt;
    }
    return *p < -0.15 ? std::fabs(*p) : 0.0;
}

std::optional<double> PowerTelemetrySnapshot::primaryMenuBarWatts() const {
    if (systemWatts && std::isfinite(*systemWatts) && *systemWatts > 0) {
        return systemWatts;
    }
    if (adapterInputWatts && std::isfinite(*adapterInputWatts) && *adapterInputWatts >= 1) {
        return adapterInputWatts;
    }
    if (auto discharging = dischargingWatts(); discharging && *discharging > 0.2) {
        return discharging;
    }
    return std::nullopt;
}

PowerHistoryPoint::PowerHistoryPoint(Uuid pointId, TimePoint at, double input, double system,
                                     double battery, double display)
    : id(pointId), timestamp(at), inputWatts(nonNegative(input)), systemWatts(nonNegative(system)),
      batteryWatts(finiteOrZero(battery)), displayWatts(nonNegative(display)) {}

} // namespace ventoral
