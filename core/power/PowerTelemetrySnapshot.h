#pragma once

#include "core/common/Clock.h"
#include "core/common/Uuid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ventoral {

struct USBPortPower {
    std::int64_t channel = 0;
    double watts = 0;
    std::optional<std::string> deviceName;

    std::int64_t id() const { return channel; }
    std::string displayLabel() const;

    friend bool operator==(const USBPortPower&, const USBPortPower&) = default;
};

// Every optional reading is absent when it was not read.
struct PowerTelemetrySnapshot {
    std::optional<double> systemWatts;
    std::optional<double> adapterInputWatts;
    std::optional<double> batteryVolts;
    std::optional<double> batteryAmps; // positive while charging
    std::optional<double> displayWatts;
    std::optional<double> socPackageWatts;
    std::optional<double> usbOutputWatts;
    std::vector<USBPortPower> usbPorts;
    std::optional<std::int64_t> adapterRatedWatts;
    std::optional<std::string> chargingPortType;
    TimePoint readAt{};

    std::optional<double> signedBatteryWatts() const;
    std::optional<double> chargingWatts() const;
    std::optional<double> dischargingWatts() const;
    // The one wattage the menu bar shows.
    std::optional<double> primaryMenuBarWatts() const;

    friend bool operator==(const PowerTelemetrySnapshot&, const PowerTelemetrySnapshot&) = default;
};

struct PowerHistoryPoint {
    Uuid id;
    TimePoint timestamp{};
    double inputWatts = 0;
    double systemWatts = 0;
    double batteryWatts = 0; // keeps its sign
    double displayWatts = 0;

    // Non-finite values become 0; input, system and display are clamped at 0 from below.
    PowerHistoryPoint(Uuid id, TimePoint timestamp, double inputWatts, double systemWatts,
                      double batteryWatts, double displayWatts);

    friend bool operator==(const PowerHistoryPoint&, const PowerHistoryPoint&) = default;
};

} // namespace ventoral
