#pragma once

#include "core/common/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ventoral {

// Time to full charge.
class BatteryChargeTimeState {
public:
    enum class Kind { estimated, calculating, charged, paused, unavailable };

    static BatteryChargeTimeState estimated(std::int64_t minutes) {
        return {Kind::estimated, minutes};
    }
    static BatteryChargeTimeState calculating() { return {Kind::calculating, 0}; }
    static BatteryChargeTimeState charged() { return {Kind::charged, 0}; }
    static BatteryChargeTimeState paused() { return {Kind::paused, 0}; }
    static BatteryChargeTimeState unavailable() { return {Kind::unavailable, 0}; }

    Kind kind() const { return kind_; }
    // Meaningful only for `estimated`.
    std::int64_t minutes() const { return minutes_; }

    std::optional<std::string> formattedDescription() const;

    friend bool operator==(const BatteryChargeTimeState&, const BatteryChargeTimeState&) = default;

private:
    BatteryChargeTimeState(Kind kind, std::int64_t minutes) : kind_(kind), minutes_(minutes) {}

    Kind kind_;
    std::int64_t minutes_;
};

Json toJson(const BatteryChargeTimeState& state);
BatteryChargeTimeState batteryChargeTimeStateFromJson(const Json& json);

namespace BatteryText {
inline constexpr const char* invalidCaseKeys = "Invalid number of keys found, expected one.";
inline constexpr const char* calculating = "Calculating time until full\u2026";
inline constexpr const char* fullyCharged = "Fully charged";
inline constexpr const char* chargingOnHold = "Charging on hold";
inline constexpr const char* untilFull = " until full";
} // namespace BatteryText

enum class BatteryCondition { normal, service };
std::string_view rawValue(BatteryCondition condition);
std::optional<BatteryCondition> batteryConditionFromRaw(std::string_view raw);

enum class BatteryTintRole { primary, secondary, positive, caution, critical };
std::string_view rawValue(BatteryTintRole role);

struct BatteryStateSnapshot {
    bool isPresent;
    int percentage; // 0...100
    bool isCharging;
    bool isCharged;
    bool isConnectedToPower;
    bool isLowPowerMode;
    std::optional<std::int64_t> timeToEmptyMinutes;
    BatteryChargeTimeState chargeTime;

    // Clamps `percentage` into 0...100.
    BatteryStateSnapshot(bool isPresent, std::int64_t percentage, bool isCharging, bool isCharged,
                         bool isConnectedToPower, bool isLowPowerMode,
                         std::optional<std::int64_t> timeToEmptyMinutes,
                         BatteryChargeTimeState chargeTime);

    BatteryTintRole tintRole() const;
    std::string symbolName() const;
    std::string summaryTitle(std::optional<double> systemWatts) const;
    std::string summarySubtitle() const;

    friend bool operator==(const BatteryStateSnapshot&, const BatteryStateSnapshot&) = default;
};

struct BatteryHealthSnapshot {
    std::optional<std::int64_t> designCapacityMAh;
    std::optional<std::int64_t> maximumCapacityMAh;
    std::optional<double> maximumCapacityPercent;
    std::optional<double> healthPercent;
    std::optional<std::int64_t> cycleCount;
    std::optional<double> temperatureCelsius;
    std::optional<BatteryCondition> condition;
    double uptimeSeconds = 0;

    std::optional<int> displayMaximumCapacityPercent() const;

    friend bool operator==(const BatteryHealthSnapshot&, const BatteryHealthSnapshot&) = default;
};

} // namespace ventoral
