#pragma once

#include "core/power/BatteryStateSnapshot.h"
#include "core/power/PowerTelemetrySnapshot.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventoral {

// The battery panel's flow diagram: one source split over its destinations.
struct PowerFlowDiagramState {
    enum class Kind { input, batterySource, charging, display, usb, system };

    struct Metric {
        std::string id;
        Kind kind;
        std::string value;
        std::string label;
        std::optional<std::string> detail;
        std::optional<std::string> help;
        double watts;
        double fraction;

        // Clamps `fraction` into 0...1; a non-finite one becomes 0.
        Metric(std::string id, Kind kind, std::string value, std::string label,
               std::optional<std::string> detail, std::optional<std::string> help, double watts,
               double fraction);
        friend bool operator==(const Metric&, const Metric&) = default;
    };

    static constexpr double adapterFloor = 5.0;
    static constexpr double batteryFloor = 1.0;
    static constexpr double residualTolerance = 0.75;

    std::optional<Metric> input;
    std::vector<Metric> destinations;

    double flowFraction(const Metric& metric) const { return metric.fraction; }

    // None when there is no usable source.
    static std::optional<PowerFlowDiagramState> resolve(const BatteryStateSnapshot& battery,
                                                        const PowerTelemetrySnapshot& power);

    friend bool operator==(const PowerFlowDiagramState&, const PowerFlowDiagramState&) = default;
};

std::string_view rawValue(PowerFlowDiagramState::Kind kind);

} // namespace ventoral
