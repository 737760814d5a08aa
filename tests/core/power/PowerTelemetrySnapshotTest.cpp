#include "core/power/PowerTelemetrySnapshot.h"

#include "core/power/AppEnergyEntry.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
using Opt = std::optional<double>;

PowerTelemetrySnapshot rail(Opt volts, Opt amps) {
    PowerTelemetrySnapshot p;
    p.batteryVolts = volts;
    p.batteryAmps = amps;
    return p;
}

TEST(PowerTelemetrySnapshot, BatteryWattsFromTheRail) {
    struct Case {
        Opt volts, amps, signedWatts, charging, discharging;
    };
    const Case cases[] = {
        {12.0, 1.0, 12.0, 12.0, 0.0},
        {12.0, -1.0, -12.0, 0.0, 12.0},
        {1.0, 0.12, 0.12, 0.0, 0.0},
        {1.0, -0.15, -0.15, 0.0, 0.0},
        {1.0, 0.15, 0.15, 0.0, 0.0},
        {std::nullopt, 1.0, std::nullopt, std::nullopt, std::nullopt},
        {12.0, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {nan, 1.0, std::nullopt, std::nullopt, std::nullopt},
        {1e200, 1e200, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        auto p = rail(c.volts, c.amps);
        EXPECT_EQ(p.signedBatteryWatts(), c.signedWatts);
        EXPECT_EQ(p.chargingWatts(), c.charging);
        EXPECT_EQ(p.dischargingWatts(), c.discharging);
    }
}

TEST(PowerTelemetrySnapshot, PrimaryMenuBarWatts) {
    struct Case {
        const char* label;
        Opt system, adapter, volts, amps, expected;
    };
    const Case cases[] = {
        {"system load wins", 14.2, 30.0, 12.0, -2.0, 14.2},
        {"zero system falls to adapter", 0.0, 1.0, std::nullopt, std::nullopt, 1.0},
        {"weak adapter ignored", nan, 0.9, 12.0, -1.0, 12.0},
        {"infinite system ignored", inf, std::nullopt, 12.0, -1.0, 12.0},
        {"below both thresholds", 0.0, std::nullopt, 12.0, -0.01, std::nullopt},
        {"discharging just above 0.2", std::nullopt, std::nullopt, 10.0, -0.021, 0.21},
        {"charging gives nothing", std::nullopt, std::nullopt, 12.0, 2.0, std::nullopt},
    };
    for (const auto& c : cases) {
        PowerTelemetrySnapshot p = rail(c.volts, c.amps);
        p.systemWatts = c.system;
        p.adapterInputWatts = c.adapter;
        auto result = p.primaryMenuBarWatts();
        ASSERT_EQ(result.has_value(), c.expected.has_value()) << c.label;
        if (result) {
            EXPECT_NEAR(*result, *c.expected, 1e-12) << c.label;
        }
    }
}

TEST(USBPortPower, DisplayLabel) {
    EXPECT_EQ((USBPortPower{2, 4.5, std::nullopt}.displayLabel()), "USB-C Port 2");
    EXPECT_EQ((USBPortPower{2, 4.5, ""}.displayLabel()), "USB-C Port 2");
    EXPECT_EQ((USBPortPower{1, 4.5, "External NVMe SSD"}.displayLabel()), "External NVMe SSD");
    EXPECT_EQ((USBPortPower{3, 0, std::nullopt}.id()), 3);
}

TEST(PowerHistoryPoint, ReplacesNonFiniteAndClampsAllButBattery) {
    PowerHistoryPoint point(Uuid::random(), {}, -5, nan, -7.5, inf);
    EXPECT_EQ(point.inputWatts, 0);
    EXPECT_EQ(point.systemWatts, 0);
    EXPECT_EQ(point.batteryWatts, -7.5);
    EXPECT_EQ(point.displayWatts, 0);
    PowerHistoryPoint kept(Uuid::random(), {}, 60, 20, nan, 4);
    EXPECT_EQ(kept.inputWatts, 60);
    EXPECT_EQ(kept.systemWatts, 20);
    EXPECT_EQ(kept.batteryWatts, 0);
    EXPECT_EQ(kept.displayWatts, 4);
}

TEST(AppEnergyBasis, RawValues) {
    EXPECT_EQ(rawValue(AppEnergyBasis::cpuEnergy), "CPU Energy");
    EXPECT_EQ(rawValue(AppEnergyBasis::cpuActivity), "CPU Activity");
    EXPECT_EQ(appEnergyBasisFromRaw("CPU Activity"), AppEnergyBasis::cpuActivity);
    EXPECT_FALSE(appEnergyBasisFromRaw("GPU"));
}

} // namespace
} // namespace ventoral
