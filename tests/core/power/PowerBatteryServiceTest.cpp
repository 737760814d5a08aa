#include "core/power/PowerBatteryService.h"

#include "tests/core/power/PowerServiceRig.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace testing;
using namespace std::chrono_literals;

TEST(PowerBatteryService, DischargingLaptop) {
    Rig rig;
    rig.sources->descriptions = {{{"Type", "UPS"}, {"Is Present", false}}, discharging()};
    rig.sources->registry = {{"Voltage", 12100},       {"InstantAmperage", -1500},
                             {"DesignCapacity", 4500}, {"FullChargeCapacity", 4300},
                             {"CycleCount", 25000},    {"BatteryHealth", "Good"},
                             {"CurrentCapacity", 20}};
    rig.smc.systemWatts = 14.5;
    rig.smc.batteryTemperatureCelsius = 31.5;
    auto r = rig.read(true);
    EXPECT_EQ(r.battery, BatteryStateSnapshot(true, 81, false, false, false, true, 133,
                                              BatteryChargeTimeState::unavailable()));
    EXPECT_EQ(r.power.batteryVolts, 12.1);
    EXPECT_EQ(r.power.batteryAmps, -1.5);
    EXPECT_EQ(r.power.adapterInputWatts, 0.0); // not connected and no reading: 0, not unknown
    EXPECT_EQ(r.power.systemWatts, 14.5);
    EXPECT_EQ(r.power.chargingPortType, std::nullopt);
    EXPECT_EQ(r.health.designCapacityMAh, 4500);
    EXPECT_EQ(r.health.maximumCapacityMAh, 4300);
    EXPECT_EQ(r.health.cycleCount, 312); // 25000 is not believed; the report's count is
    EXPECT_EQ(r.health.maximumCapacityPercent, 91);
    EXPECT_EQ(r.health.condition, BatteryCondition::normal);
    EXPECT_EQ(r.health.temperatureCelsius, 31.5);
    EXPECT_EQ(r.health.uptimeSeconds, 1000);
    EXPECT_EQ(rig.profilerRuns, 1);
}

TEST(PowerBatteryService, ChargingOverUSBCWithADeviceOnAnotherPort) {
    Rig rig;
    rig.sources->descriptions = {{{"Type", "InternalBattery"},
                                  {"Is Present", true},
                                  {"Power Source State", "AC Power"},
                                  {"Is Charging", true},
                                  {"Is Charged", false},
                                  {"Current Capacity", 55},
                                  {"Max Capacity", 100},
                                  {"Time to Full Charge", 47}}};
    rig.sources->adapter = D{{"Watts", 65}};
    rig.sources->registry = {{"PowerTelemetryData", D{{"SystemPowerIn", 38500}}}};
    rig.topology->topology = USBPortTopologySnapshot::make(
        {{"port0", 0, "USB-C"}, {"port1", 1, "USB-C"}}, {{"port1", "Phone", 0, 2}},
        USBPortTopologySnapshot::PortNode{"port0", 0, "USB-C PD"});
    rig.smc.portRails = SMCPortOutputRails::measured({{1, 38}, {2, 4.5}}, {});
    auto r = rig.read();
    EXPECT_EQ(r.battery.chargeTime, BatteryChargeTimeState::estimated(47));
    EXPECT_TRUE(r.battery.isConnectedToPower);
    EXPECT_EQ(r.battery.timeToEmptyMinutes, std::nullopt);
    EXPECT_EQ(r.power.adapterInputWatts, 38.5);
    EXPECT_EQ(r.power.adapterRatedWatts, 65);
    EXPECT_EQ(r.power.chargingPortType, "USB-C PD");
    EXPECT_EQ(r.power.usbOutputWatts, 4.5);
    EXPECT_EQ(r.power.usbPorts, (std::vector<USBPortPower>{{2, 4.5, "Phone"}}));
}

TEST(PowerBatteryService, FallbacksWithoutADescription) {
    struct Case {
        std::optional<std::vector<D>> descriptions;
        D registry;
        SMCPowerReadings smc;
        bool present, connected;
        int percentage;
        BatteryChargeTimeState chargeTime;
        std::optional<double> adapterInput;
    };
    SMCPowerReadings weakAdapter;
    weakAdapter.adapterInputWatts = 0.5;
    const Case cases[] = {
        // A desktop: nothing at all.
        {std::nullopt, {}, {}, false, false, 100, BatteryChargeTimeState::unavailable(), 0.0},
        {std::vector<D>{},
         {},
         weakAdapter,
         false,
         false,
         100,
         BatteryChargeTimeState::unavailable(),
         0.0},
        {std::nullopt,
         {{"ExternalConnected", true}, {"IsCharging", true}, {"CurrentCapacity", 64}},
         {},
         true,
         true,
         64,
         BatteryChargeTimeState::calculating(),
         std::nullopt},
        {std::nullopt,
         {{"ExternalConnected", true}, {"CurrentCapacity", 120}},
         {},
         true,
         true,
         100,
         BatteryChargeTimeState::charged(),
         std::nullopt},
        {std::nullopt,
         {{"ExternalConnected", true}, {"CurrentCapacity", -3}},
         weakAdapter,
         true,
         true,
         0,
         BatteryChargeTimeState::charged(),
         0.5},
        // A capacity over a zero maximum falls back to the registry.
        {std::vector<D>{{{"Current Capacity", 50}, {"Max Capacity", 0}}},
         {{"CurrentCapacity", 42}},
         {},
         true,
         false,
         42,
         BatteryChargeTimeState::unavailable(),
         0.0},
    };
    int row = 0;
    for (const auto& c : cases) {
        Rig rig;
        rig.sources->descriptions = c.descriptions;
        rig.sources->registry = c.registry;
        rig.smc = c.smc;
        auto r = rig.read();
        EXPECT_EQ(r.battery.isPresent, c.present) << row;
        EXPECT_EQ(r.battery.isConnectedToPower, c.connected) << row;
        EXPECT_EQ(r.battery.percentage, c.percentage) << row;
        EXPECT_EQ(r.battery.chargeTime, c.chargeTime) << row;
        EXPECT_EQ(r.power.adapterInputWatts, c.adapterInput) << row;
        ++row;
    }
    Rig desktop;
    EXPECT_EQ(desktop.read().battery.summarySubtitle(), "Connected to external power");
}

TEST(PowerBatteryService, LightweightRead) {
    Rig rig;
    rig.sources->descriptions = {{{"Current Capacity", 50}, {"Max Capacity", 0}}};
    rig.pstr = 9.25;
    auto light = rig.service->readLightweightMenuBarState(true);
    EXPECT_EQ(light.battery,
              BatteryStateSnapshot(true, 100, false, false, false, true, std::nullopt,
                                   BatteryChargeTimeState::unavailable()));
    EXPECT_EQ(light.systemWatts, 9.25);
    EXPECT_EQ(rig.service->readLightweightMenuBarState(false).systemWatts, std::nullopt);
    rig.pstr = 1200;
    EXPECT_EQ(rig.service->readLightweightMenuBarState(true).systemWatts, std::nullopt);

    rig.sources->descriptions = {discharging()};
    auto onBattery = rig.service->readLightweightMenuBarState(false).battery;
    EXPECT_EQ(onBattery.percentage, 81);
    EXPECT_EQ(onBattery.timeToEmptyMinutes, 133);
    EXPECT_EQ(rig.topology->reads, 0); // the light read touches nothing else
}

TEST(PowerBatteryService, ProfilerCache) {
    Rig rig;
    int updates = 0;
    auto update = [&] { ++updates; };
    rig.read(false, false, update);
    EXPECT_EQ(rig.profilerRuns, 1);
    EXPECT_EQ(rig.runMainQueue(), 1);
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(rig.read().health.maximumCapacityPercent, 91); // stored by the background run

    rig.advance(599s);
    rig.read();
    EXPECT_EQ(rig.profilerRuns, 1);
    rig.advance(2s);
    rig.hasProfiler = false; // a failed run replaces the good entry
    rig.read();
    EXPECT_EQ(rig.profilerRuns, 2);
    EXPECT_EQ(rig.read().health.maximumCapacityPercent, std::nullopt);
    rig.advance(59s);
    rig.read();
    EXPECT_EQ(rig.profilerRuns, 2);
    rig.advance(2s);
    rig.read(true);
    EXPECT_EQ(rig.profilerRuns, 3);
}

TEST(PowerBatteryService, TwoQuickReadsStartOneBackgroundRun) {
    Rig rig;
    std::mutex gate;
    gate.lock();
    auto inner = rig.service;
    PowerBatteryPlatform slow;
    // A profiler that waits for the test, so the second read finds it still running.
    slow.now = [] { return TimePoint(1'800'000'000s); };
    slow.runProfiler = [&](const std::vector<std::string>&, double) {
        ++rig.profilerRuns;
        std::lock_guard wait(gate);
        return BoundedRunResult{};
    };
    auto service = PowerBatteryService::make(slow);
    service->readAll(false, false);
    service->readAll(false, false);
    gate.unlock();
    service->drainBackgroundWork();
    EXPECT_EQ(rig.profilerRuns, 1);
}

TEST(PowerBatteryService, BoundedProfilerRun) {
    const TimePoint t0(1'800'000'000s);
    WallClock now = [&] { return t0; };
    using E = PowerBatteryService::ProfilerCacheEntry;
    const E failed{std::nullopt, std::nullopt, std::nullopt, t0 + 60s};
    const std::string good =
        R"({"SPPowerDataType":[{"sppower_battery_health_info":{"sppower_battery_health":"Poor"}}]})";
    const std::string cyclesOnly =
        R"({"SPPowerDataType":[{"sppower_battery_health_info":{"sppower_battery_cycle_count":9}}]})";
    struct Case {
        BoundedRunResult run;
        E entry;
    };
    const Case cases[] = {
        {{false, false, -1, ""}, failed},
        {{true, true, -1, good}, failed},
        {{true, false, 1, good}, failed},
        {{true, false, 0, ""}, failed},
        {{true, false, 0, "garbage"}, failed},
        {{true, false, 0, cyclesOnly}, {std::nullopt, std::nullopt, 9, t0 + 60s}},
        {{true, false, 0, good},
         {BatteryCondition::service, std::nullopt, std::nullopt, t0 + 600s}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PowerBatteryService::runSystemProfilerBounded(
                      [&](const std::vector<std::string>&, double) { return c.run; }, now, 3),
                  c.entry);
    }
    EXPECT_EQ(PowerBatteryService::runSystemProfilerBounded(nullptr, now, 3), failed);
}

TEST(PowerBatteryService, TopologyCache) {
    Rig rig;
    rig.sources->descriptions = {discharging()};
    rig.read();
    rig.advance(2s);
    rig.read();
    EXPECT_EQ(rig.topology->reads, 1);
    auto& d = (*rig.sources->descriptions)[0];
    d.insert_or_assign("Power Source State", "AC Power"); // the adapter goes in
    rig.read();
    EXPECT_EQ(rig.topology->reads, 2);
    rig.advance(6s);
    rig.read();
    EXPECT_EQ(rig.topology->reads, 3);
}

TEST(PowerBatteryService, MonitoringKeepsOneSourceAndTheLatestHandler) {
    Rig rig;
    int first = 0, second = 0;
    rig.service->startPowerSourceMonitoring([&] { ++first; });
    rig.service->startPowerSourceMonitoring([&] { ++second; });
    EXPECT_EQ(rig.monitor->starts, 1);
    rig.monitor->callback();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    rig.service.reset();
    rig.monitor->callback(); // after the service is gone: nothing
    EXPECT_EQ(second, 1);
}

} // namespace
} // namespace ventoral
