#include "core/power/BatteryStateSnapshot.h"

#include "core/common/Format.h"
#include "core/power/PowerFormatters.h"

#include <array>
#include <cmath>
#include <utility>

namespace ventoral {
namespace {

using Kind = BatteryChargeTimeState::Kind;

constexpr std::array<std::pair<Kind, const char*>, 5> caseKeys{{
    {Kind::estimated, "estimated"},
    {Kind::calculating, "calculating"},
    {Kind::charged, "charged"},
    {Kind::paused, "paused"},
    {Kind::unavailable, "unavailable"},
}};

const char* caseKey(Kind kind) {
    for (const auto& [k, key] : caseKeys) {
        if (k == kind) {
            return key;
        }
    }
    return "";
}

} // namespace

std::optional<std::string> BatteryChargeTimeState::formattedDescription() const {
    switch (kind_) {
    case Kind::estimated:
        return PowerDurationFormatter::hoursMinutes(minutes_) + BatteryText::untilFull;
    case Kind::calculating:
        return BatteryText::calculating;
    case Kind::charged:
        return BatteryText::fullyCharged;
    case Kind::paused:
        return BatteryText::chargingOnHold;
    case Kind::unavailable:
        return std::nullopt;
    }
    return std::nullopt;
}

Json toJson(const BatteryChargeTimeState& state) {
    Json payload = Json::object();
    if (state.kind() == Kind::estimated) {
        payload["minutes"] = state.minutes();
    }
    Json json = Json::object();
    json[caseKey(state.kind())] = std::move(payload);
    return json;
}

BatteryChargeTimeState batteryChargeTimeStateFromJson(const Json& json) {
    constexpr std::string_view ctx = "BatteryChargeTimeState";
    json::requireObject(json, ctx);
    // Members that name no case are ignored; exactly one case member must remain.
    const Json* payload = nullptr;
    Kind kind = Kind::unavailable;
    int found = 0;
    for (const auto& [k, key] : caseKeys) {
        auto it = json.find(key);
        if (it != json.end()) {
            payload = &*it;
            kind = k;
            ++found;
        }
    }
    if (found != 1) {
        throw DecodingError(BatteryText::invalidCaseKeys);
    }
    json::requireObject(*payload, std::string(ctx) + "." + caseKey(kind));
    switch (kind) {
    case Kind::estimated:
        return BatteryChargeTimeState::estimated(json::decodeInt64(
            json::requireMember(*payload, "minutes", "BatteryChargeTimeState.estimated"),
            "BatteryChargeTimeState.estimated.minutes"));
    case Kind::calculating:
        return BatteryChargeTimeState::calculating();
    case Kind::charged:
        return BatteryChargeTimeState::charged();
    case Kind::paused:
        return BatteryChargeTimeState::paused();
    case Kind::unavailable:
        break;
    }
    return BatteryChargeTimeState::unavailable();
}

std::string_view rawValue(BatteryCondition condition) {
    return condition == BatteryCondition::normal ? "Normal" : "Service Recommended";
}

std::optional<BatteryCondition> batteryConditionFromRaw(std::string_view raw) {
    for (auto condition : {BatteryCondition::normal, BatteryCondition::service}) {
        if (rawValue(condition) == raw) {
            return condition;
        }
    }
    return std::nullopt;
}

std::string_view rawValue(BatteryTintRole role) {
    switch (role) {
    case BatteryTintRole::primary:
        return "primary";
    case BatteryTintRole::secondary:
        return "secondary";
    case BatteryTintRole::positive:
        return "positive";
    case BatteryTintRole::caution:
        return "caution";
    case BatteryTintRole::critical:
        return "critical";
    }
    return {};
}

BatteryStateSnapshot::BatteryStateSnapshot(bool present, std::int64_t percent, bool charging,
                                           bool charged, bool connected, bool lowPower,
                                           std::optional<std::int64_t> timeToEmpty,
                                           BatteryChargeTimeState charge)
    : isPresent(present), percentage(static_cast<int>(percent < 0     ? 0
                                                      : percent > 100 ? 100
                                                                      : percent)),
      isCharging(charging), isCharged(charged), isConnectedToPower(connected),
      isLowPowerMode(lowPower), timeToEmptyMinutes(timeToEmpty), chargeTime(charge) {}

BatteryTintRole BatteryStateSnapshot::tintRole() const {
    if (!isPresent) {
        return BatteryTintRole::secondary;
    }
    if (isLowPowerMode) {
        return BatteryTintRole::caution;
    }
    if (isCharging) {
        return BatteryTintRole::positive;
    }
    if (percentage <= 20) {
        return BatteryTintRole::critical;
    }
    return BatteryTintRole::primary;
}

std::string BatteryStateSnapshot::symbolName() const {
    if (!isPresent) {
        return "powerplug.fill";
    }
    if (isCharging) {
        return "battery.100percent.bolt";
    }
    if (percentage >= 88) {
        return "battery.100percent";
    }
    if (percentage >= 63) {
        return "battery.75percent";
    }
    if (percentage >= 38) {
        return "battery.50percent";
    }
    if (percentage >= 13) {
        return "battery.25percent";
    }
    return "battery.0percent";
}

std::string BatteryStateSnapshot::summaryTitle(std::optional<double> systemWatts) const {
    if (isPresent) {
        return std::string("Battery") + PowerText::separator + std::to_string(percentage) + "%";
    }
    if (systemWatts && std::isfinite(*systemWatts) && *systemWatts > 0) {
        return std::string("AC Power") + PowerText::separator +
               PowerFormatters::watts(*systemWatts);
    }
    return "AC Power";
}

std::string BatteryStateSnapshot::summarySubtitle() const {
    if (!isPresent) {
        return "Connected to external power";
    }
    const std::string sep = PowerText::separator;
    std::string first;
    if (isCharging) {
        if (auto description = chargeTime.formattedDescription()) {
            first = "Charging" + sep + *description;
        } else {
            first = "Charging";
        }
    } else if (isConnectedToPower) {
        if (isCharged || chargeTime.kind() == BatteryChargeTimeState::Kind::charged) {
            first = "Connected to power" + sep + BatteryText::fullyCharged;
        } else if (chargeTime.kind() == BatteryChargeTimeState::Kind::paused) {
            first = "Connected to power" + sep + BatteryText::chargingOnHold;
        } else {
            first = "Connected to power";
        }
    } else if (timeToEmptyMinutes && *timeToEmptyMinutes >= 1 && *timeToEmptyMinutes <= 10080) {
        first = "On battery" + sep + PowerDurationFormatter::hoursMinutes(*timeToEmptyMinutes) +
                " remaining";
    } else {
        first = "On battery power";
    }
    if (isLowPowerMode) {
        first += sep + "Low Power Mode";
    }
    return first;
}

std::optional<int> BatteryHealthSnapshot::displayMaximumCapacityPercent() const {
    if (maximumCapacityPercent && std::isfinite(*maximumCapacityPercent) &&
        *maximumCapacityPercent >= 1 && *maximumCapacityPercent <= 100) {
        return static_cast<int>(roundHalfAway(*maximumCapacityPercent));
    }
    if (healthPercent && std::isfinite(*healthPercent) && *healthPercent >= 20 &&
        *healthPercent <= 120) {
        int rounded = static_cast<int>(roundHalfAway(*healthPercent));
        return rounded > 100 ? 100 : rounded;
    }
    return std::nullopt;
}

} // namespace ventoral
