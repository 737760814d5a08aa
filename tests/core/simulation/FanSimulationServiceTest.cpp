#include "core/simulation/FanSimulationService.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
const TimePoint fixedNow = TimePoint{} + std::chrono::hours(480000);

SimulationHost fixedHost() {
    return {[] { return fixedNow; }, [] { return 4321.5; }, "/opt/ventoral/VentoralController"};
}

FanSimulationService make(SimulationModel model = {}) {
    return FanSimulationService(fixedHost(), std::move(model));
}

TEST(FanSimulationService, StartsWithTwoAutomaticFans) {
    auto sim = make();
    auto fans = sim.readFans();
    ASSERT_EQ(fans.size(), 2u);
    EXPECT_EQ(fans[0],
              (FanInfo{0, "Left Fan (CPU)", 2150, 1250, 6500, 2150, FanMode::automatic, false}));
    EXPECT_EQ(fans[1],
              (FanInfo{1, "Right Fan (GPU)", 2200, 1250, 6500, 2200, FanMode::automatic, false}));
    auto model = sim.model();
    EXPECT_EQ(model.cpuTemp, 48.5);
    EXPECT_EQ(model.gpuTemp, 45.2);
    EXPECT_EQ(model.aneTemp, 41.8);
    EXPECT_EQ(model.thermalWorkload, 35.0);
    EXPECT_FALSE(model.lowPowerMode);
}

TEST(FanSimulationService, StepIsClamped) {
    // Each pair must advance the model identically.
    const std::pair<double, double> equivalent[] = {{10, 2},   {1e9, 2},   {0, 0.1},
                                                    {-3, 0.1}, {nan, 0.1}, {0.05, 0.1}};
    for (auto [given, clamped] : equivalent) {
        auto a = make();
        auto b = make();
        a.updatePhysics(given);
        b.updatePhysics(clamped);
        EXPECT_EQ(a.model(), b.model()) << given;
    }
    auto a = make();
    auto b = make();
    a.updatePhysics(1.5);
    b.updatePhysics(2);
    EXPECT_NE(a.model(), b.model());
}

TEST(FanSimulationService, AutomaticTargetFollowsTheCpuTemperature) {
    struct Case {
        double cpu;
        float target;
    };
    const Case cases[] = {{40, 1250},     {20, 1250},       {85, 5187.5f},
                          {110, 5187.5f}, {62.5, 3218.75f}, {nan, 5187.5f}};
    for (auto c : cases) {
        SimulationModel model;
        model.cpuTemp = c.cpu;
        auto sim = make(model);
        sim.updatePhysics(1);
        EXPECT_FLOAT_EQ(sim.readFans()[0].targetRPM, c.target) << c.cpu;
    }
}

TEST(FanSimulationService, FansRampAtTheirOwnRates) {
    SimulationModel model;
    model.cpuTemp = 90;
    model.fans = {{0, "Up", 2150, 1250, 6500, 2150, FanMode::automatic, false},
                  {1, "Down", 5187.5f, 1250, 6500, 1250, FanMode::manual, true},
                  {2, "Near", 1300, 1250, 6500, 1250, FanMode::manual, true}};
    auto sim = make(model);
    sim.updatePhysics(1);
    auto fans = sim.readFans();
    EXPECT_FLOAT_EQ(fans[0].currentRPM, 2800);
    EXPECT_FLOAT_EQ(fans[1].currentRPM, 5187.5f - 420);
    EXPECT_FLOAT_EQ(fans[1].targetRPM, 1250);  // manual keeps its target
    EXPECT_FLOAT_EQ(fans[2].currentRPM, 1250); // within one step: lands on the target
    sim.updatePhysics(2);
    EXPECT_FLOAT_EQ(sim.readFans()[1].currentRPM, 5187.5f - 420 * 3);
}

TEST(FanSimulationService, FanCommands) {
    auto sim = make();
    sim.setTargetRPM(0, 9000);
    EXPECT_EQ(sim.readFans()[0].targetRPM, 6500);
    EXPECT_EQ(sim.readFans()[0].mode, FanMode::manual);
    EXPECT_TRUE(sim.readFans()[0].isForced);
    sim.setTargetRPM(1, 100);
    EXPECT_EQ(sim.readFans()[1].targetRPM, 1250);

    auto before = sim.readFans();
    sim.setTargetRPM(-1, 3000);
    sim.setTargetRPM(2, 3000);
    sim.setTargetRPM(0, std::numeric_limits<float>::quiet_NaN());
    sim.setTargetRPM(0, std::numeric_limits<float>::infinity());
    sim.setFanMode(5, FanMode::automatic);
    EXPECT_EQ(sim.readFans(), before);

    sim.setFanMode(1, FanMode::automatic);
    EXPECT_EQ(sim.readFans()[1].mode, FanMode::automatic);
    EXPECT_FALSE(sim.readFans()[1].isForced);
    sim.setFanMode(1, FanMode::manual);
    EXPECT_TRUE(sim.readFans()[1].isForced);

    sim.resetAllToAuto();
    for (const auto& fan : sim.readFans()) {
        EXPECT_EQ(fan.mode, FanMode::automatic);
        EXPECT_FALSE(fan.isForced);
    }
}

TEST(FanSimulationService, WorkloadAndLowPowerMode) {
    auto sim = make();
    const std::pair<double, double> cases[] = {
        {100, 75}, {-5, 0}, {20, 20}, {nan, 20}, {std::numeric_limits<double>::infinity(), 20}};
    for (auto [given, stored] : cases) {
        sim.setThermalWorkload(given);
        EXPECT_EQ(sim.model().thermalWorkload, stored) << given;
    }
    sim.setLowPowerMode(true);
    EXPECT_TRUE(sim.model().lowPowerMode);
    EXPECT_TRUE(sim.readPowerAndBattery().battery.isLowPowerMode);
}

TEST(FanSimulationService, TemperaturesSettleTowardsTheEquilibrium) {
    struct Case {
        float rpm;
        double settle;
    };
    for (auto c : {Case{6500, 43.0}, Case{0, 71.0}}) {
        SimulationModel model;
        model.fans = {{0, "A", c.rpm, c.rpm, 6500, c.rpm, FanMode::manual, true},
                      {1, "B", c.rpm, c.rpm, 6500, c.rpm, FanMode::manual, true}};
        auto sim = make(model);
        for (int i = 0; i < 200; ++i) {
            sim.updatePhysics(2);
        }
        auto settled = sim.model();
        EXPECT_NEAR(settled.cpuTemp, c.settle, 1e-6);
        EXPECT_NEAR(settled.gpuTemp, c.settle - 2.5, 1e-6);
        EXPECT_NEAR(settled.aneTemp, c.settle - 5.0, 1e-6);
    }
}

TEST(FanSimulationService, OneStepOfThermalInertia) {
    SimulationModel model;
    model.fans = {{0, "A", 6500, 1250, 6500, 6500, FanMode::manual, true}};
    auto sim = make(model);
    sim.updatePhysics(1);
    // eq = 35 + 36 - 28 = 43; k = 0.35
    auto m = sim.model();
    EXPECT_DOUBLE_EQ(m.cpuTemp, 48.5 + (43 - 48.5) * 0.35);
    EXPECT_DOUBLE_EQ(m.gpuTemp, 45.2 + (40.5 - 45.2) * 0.35);
    EXPECT_DOUBLE_EQ(m.aneTemp, 41.8 + (38 - 41.8) * 0.35);
}

TEST(FanSimulationService, WithoutFansTemperaturesStayPut) {
    SimulationModel model;
    model.fans.clear();
    auto sim = make(model);
    sim.updatePhysics(2);
    EXPECT_EQ(sim.model(), model);
}

TEST(FanSimulationService, SensorListAndSnapshot) {
    auto sim = make();
    auto snapshot = sim.readSnapshot();
    EXPECT_EQ(snapshot.timestamp, fixedNow);
    EXPECT_EQ(snapshot.fans, sim.readFans());
    EXPECT_EQ(snapshot.sensors, sim.readSensors());
    const std::vector<ThermalSensor> expected{
        {"sim_cpu_p0", "Simulated CPU P-Core 0", 48.5 + 1.2, SensorCategory::cpu},
        {"sim_cpu_p1", "Simulated CPU P-Core 1", 48.5 + 0.8, SensorCategory::cpu},
        {"sim_cpu_e0", "Simulated CPU E-Core Cluster", 48.5 - 2.4, SensorCategory::cpu},
        {"sim_gpu_cluster", "Simulated GPU Core Matrix", 45.2, SensorCategory::gpu},
        {"sim_ane", "Simulated Apple Neural Engine", 41.8, SensorCategory::ane},
        {"sim_batt", "Simulated Battery Gas Gauge", 31.5, SensorCategory::battery},
        {"sim_nand", "Simulated Apple Fabric SSD Controller", 34.2, SensorCategory::storage},
    };
    EXPECT_EQ(snapshot.sensors, expected);
    EXPECT_NEAR(snapshot.cpuTemperature(), 48.5 - 0.4 / 3, 1e-12);
}

TEST(FanSimulationService, PowerPicture) {
    SimulationModel model;
    model.thermalWorkload = 50;
    auto sim = make(model);
    auto reading = sim.readPowerAndBattery();
    const double soc = 50 * 0.48 + 8.5; // 32.5
    const double avg = (2150.0 + 2200.0) / 2;
    const auto& p = reading.power;
    EXPECT_DOUBLE_EQ(*p.systemWatts, soc + (avg / 6500) * 3.8 + 4.2 + 3.4);
    EXPECT_DOUBLE_EQ(*p.adapterInputWatts, *p.systemWatts + 14.8 + 2.6);
    EXPECT_EQ(p.batteryVolts, 12.64);
    EXPECT_DOUBLE_EQ(*p.batteryAmps, 1.1708860759493671);
    EXPECT_EQ(p.displayWatts, 4.2);
    EXPECT_EQ(p.socPackageWatts, soc);
    EXPECT_EQ(p.usbOutputWatts, 2.6);
    EXPECT_EQ(p.usbPorts, (std::vector<USBPortPower>{{1, 2.6, "External NVMe SSD"}}));
    EXPECT_EQ(p.adapterRatedWatts, 96);
    EXPECT_EQ(p.chargingPortType, "MagSafe 3");
    EXPECT_EQ(p.readAt, fixedNow);

    EXPECT_EQ(reading.battery,
              (BatteryStateSnapshot{true, 84, true, false, true, false, std::nullopt,
                                    BatteryChargeTimeState::estimated(38)}));
    const auto& h = reading.health;
    EXPECT_EQ(h.designCapacityMAh, 6075);
    EXPECT_EQ(h.maximumCapacityMAh, 5710);
    EXPECT_EQ(h.maximumCapacityPercent, 94.0);
    EXPECT_EQ(h.healthPercent, 93.99);
    EXPECT_EQ(h.cycleCount, 86);
    EXPECT_EQ(h.temperatureCelsius, 32.4);
    EXPECT_EQ(h.condition, BatteryCondition::normal);
    EXPECT_EQ(h.uptimeSeconds, 4321.5);

    ASSERT_EQ(reading.topApps.size(), 2u);
    EXPECT_EQ(reading.topApps[0],
              (AppEnergyEntry{"/System/Applications/Utilities/Activity Monitor.app",
                              "Thermal Render Workload",
                              "/System/Applications/Utilities/Activity Monitor.app", "17.9 W",
                              soc * 0.55, AppEnergyBasis::cpuEnergy}));
    EXPECT_EQ(reading.topApps[1],
              (AppEnergyEntry{"/Applications/VentoralController.app", "Ventoral Controller (Sim)",
                              "/opt/ventoral/VentoralController", "0.4 W", 0.4,
                              AppEnergyBasis::cpuEnergy}));
}

TEST(FanSimulationService, WorkloadEntryNeverDropsBelowItsFloor) {
    SimulationModel model;
    model.thermalWorkload = 0;
    model.fans.clear();
    auto reading = make(model).readPowerAndBattery();
    EXPECT_DOUBLE_EQ(*reading.power.systemWatts, 8.5 + 4.2 + 3.4);
    EXPECT_DOUBLE_EQ(reading.topApps[0].rawScore, 8.5 * 0.55);
    EXPECT_EQ(reading.topApps[0].valueText, "4.7 W");
}

} // namespace
} // namespace ventoral
