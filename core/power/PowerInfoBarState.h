#pragma once

#include "core/power/BatteryStateSnapshot.h"
#include "core/power/PowerTelemetrySnapshot.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventoral {

enum class PowerInfoBarKind {
    input,
    inputDisconnected,
    batteryCharging,
    batteryDischarging,
    batteryIdle,
    system
};
std::string_view rawValue(PowerInfoBarKind kind);
std::string_view title(PowerInfoBarKind kind);

struct PowerInfoBarItem {
    PowerInfoBarKind kind;
    std::optional<std::string> value; // none without a reading
    std::string helpText;
    std::string_view id() const { return rawValue(kind); }
    friend bool operator==(const PowerInfoBarItem&, const PowerInfoBarItem&) = default;
};

// The battery panel's three small cards: input, battery (when there is one) and system.
struct PowerInfoBarState {
    std::vector<PowerInfoBarItem> items;
    static PowerInfoBarState make(const BatteryStateSnapshot& battery,
                                  const PowerTelemetrySnapshot& power);
    friend bool operator==(const PowerInfoBarState&, const PowerInfoBarState&) = default;
};

} // namespace ventoral
