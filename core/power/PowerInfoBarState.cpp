#include "core/power/PowerInfoBarState.h"

#include "core/power/PowerFormatters.h"

#include <cmath>

namespace ventoral {
namespace {

constexpr const char* idleWatts = "0.0 W";

} // namespace

std::string_view rawValue(PowerInfoBarKind kind) {
    switch (kind) {
    case PowerInfoBarKind::input:
        return "input";
    case PowerInfoBarKind::inputDisconnected:
        return "inputDisconnected";
    case PowerInfoBarKind::batteryCharging:
        return "batteryCharging";
    case PowerInfoBarKind::batteryDischarging:
        return "batteryDischarging";
    case PowerInfoBarKind::batteryIdle:
        return "batteryIdle";
    case PowerInfoBarKind::system:
        return "system";
    }
    return "";
}

std::string_view title(PowerInfoBarKind kind) {
    switch (kind) {
    case PowerInfoBarKind::input:
    case PowerInfoBarKind::inputDisconnected:
        return "Input";
    case PowerInfoBarKind::batteryCharging:
        return "Charging";
    case PowerInfoBarKind::batteryDischarging:
    case PowerInfoBarKind::batteryIdle:
        return "Battery";
    case PowerInfoBarKind::system:
        return "System";
    }
    return "";
}

PowerInfoBarState PowerInfoBarState::make(const BatteryStateSnapshot& battery,
                                          const PowerTelemetrySnapshot& power) {
    using K = PowerInfoBarKind;
    PowerInfoBarState state;

    const auto& input = power.adapterInputWatts;
    if (!battery.isConnectedToPower && (!input || *input < 1)) {
        state.items.push_back({K::inputDisconnected, idleWatts, "Power adapter disconnected"});
    } else {
        std::string help = "DC Adapter Input Power";
        if (power.adapterRatedWatts) {
            help += " (" + std::to_string(*power.adapterRatedWatts) + " W adapter)";
        }
        state.items.push_back(
            {K::input, input ? PowerFormatters::watts(*input) : PowerText::missingValue, help});
    }

    if (battery.isPresent) {
        auto p = power.signedBatteryWatts();
        if (!p) {
            K kind = battery.isCharging           ? K::batteryCharging
                     : battery.isConnectedToPower ? K::batteryIdle
                                                  : K::batteryDischarging;
            state.items.push_back({kind, std::nullopt, "Battery power telemetry"});
        } else if (*p > 0.25 || (*p > 0.05 && battery.isCharging)) {
            state.items.push_back({K::batteryCharging, PowerFormatters::watts(std::fabs(*p)),
                                   "Power charging into battery pack"});
        } else if (*p < -0.25 || (std::fabs(*p) > 0.05 && !battery.isConnectedToPower)) {
            state.items.push_back({K::batteryDischarging, PowerFormatters::watts(std::fabs(*p)),
                                   "Power drawn from battery pack"});
        } else {
            state.items.push_back({K::batteryIdle, idleWatts, "Battery pack idle (held / full)"});
        }
    }

    state.items.push_back({K::system,
                           power.systemWatts
                               ? std::optional(PowerFormatters::watts(*power.systemWatts))
                               : std::nullopt,
                           "Total Mac system load (AppleSMC PSTR)"});
    return state;
}

} // namespace ventoral
