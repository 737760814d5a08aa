// The power service over fixture machines, read through the same Linux sources it uses live.
#include "core/power/PowerFlowDiagramState.h"
#include "core/power/PowerInfoBarState.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/power/SharedPowerBatteryService.h"
#include "platform/power/WatchedLowPowerMode.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SysfsFixture.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>

namespace ventoral {
namespace {

using testing::SysfsFixture;

struct FixtureMachine {
    SysfsFixture sys;
    testing::TemporaryFolder proc;
    std::unique_ptr<SMCService> smc;
    std::shared_ptr<PowerBatteryService> service;

    explicit FixtureMachine(void (*build)(SysfsFixture&)) {
        build(sys);
        std::ofstream(proc.path() + "/uptime") << "5025.50 9000.00\n";
        testing::ScopedEnvironmentVariable sysfs("VENTORAL_SYSFS_ROOT", sys.root());
        testing::ScopedEnvironmentVariable procfs("VENTORAL_PROC_ROOT", proc.path());
        smc = std::make_unique<SMCService>(std::make_unique<HwmonSmcTransport>(
            sys.root(), FanControlMemory::folderFor(sys.root())));
        auto platform = linuxPowerBatteryPlatform(
            *smc, std::make_shared<WatchedLowPowerMode>(sys.root(), BusOpener{}));
        platform.isLowPowerModeEnabled = [] { return false; }; // keep the real bus out of it
        service = PowerBatteryService::make(std::move(platform));
    }
    PowerBatteryReading read() {
        auto r = service->readAll(false, false);
        service->drainBackgroundWork();
        return r;
    }
};

TEST(PowerBatteryOnFixtures, ChargingOverUSBC) {
    FixtureMachine m(testing::usbCChargingLaptop);
    auto r = m.read();
    EXPECT_EQ(r.battery, BatteryStateSnapshot(true, 55, true, false, true, false, std::nullopt,
                                              BatteryChargeTimeState::estimated(75)));
    EXPECT_NEAR(r.power.batteryVolts.value_or(0), 16.8, 1e-5); // through the controller's floats
    EXPECT_NEAR(r.power.batteryAmps.value_or(0), 1.8, 1e-5);
    EXPECT_EQ(r.power.adapterInputWatts, 45.0);
    EXPECT_EQ(r.power.adapterRatedWatts, 65);
    EXPECT_EQ(r.power.chargingPortType, "USB-C PD");
    // The only measured port is the one powering the machine: it is not an output.
    EXPECT_EQ(r.power.usbOutputWatts, std::nullopt);
    EXPECT_TRUE(r.power.usbPorts.empty());
    EXPECT_EQ(r.health.designCapacityMAh, 5200);
    EXPECT_EQ(r.health.maximumCapacityMAh, 5000);
    EXPECT_NEAR(*r.health.healthPercent, 96.15, 0.01);
    EXPECT_EQ(r.health.cycleCount, 87);
    EXPECT_EQ(r.health.condition, BatteryCondition::normal);
    EXPECT_EQ(r.health.maximumCapacityPercent, std::nullopt); // no power report on Linux
    EXPECT_EQ(r.health.uptimeSeconds, 5025.5);

    auto flow = PowerFlowDiagramState::resolve(r.battery, r.power);
    ASSERT_TRUE(flow);
    EXPECT_EQ(flow->input->value, "45.0 W");
    EXPECT_EQ(flow->input->detail, "USB-C PD");
    EXPECT_EQ(flow->destinations.front().id, "charging");
}

TEST(PowerBatteryOnFixtures, DischargingFullAndDesktop) {
    FixtureMachine thinkpad(testing::thinkpadLaptop);
    auto r = thinkpad.read();
    EXPECT_EQ(r.battery, BatteryStateSnapshot(true, 81, false, false, false, false, 132,
                                              BatteryChargeTimeState::unavailable()));
    EXPECT_EQ(r.power.adapterInputWatts, 0.0);
    ASSERT_TRUE(r.power.systemWatts);
    EXPECT_NEAR(*r.power.systemWatts, 18.15, 1e-4);
    auto light = thinkpad.service->readLightweightMenuBarState(true);
    EXPECT_EQ(light.battery, r.battery);
    EXPECT_NEAR(*light.systemWatts, 18.15, 1e-4);

    FixtureMachine full(testing::fullOnPowerLaptop);
    r = full.read();
    EXPECT_TRUE(r.battery.isCharged);
    EXPECT_EQ(r.battery.chargeTime, BatteryChargeTimeState::charged());
    EXPECT_EQ(r.power.chargingPortType, "AC Adapter");
    EXPECT_EQ(r.power.adapterInputWatts, std::nullopt); // a mains adapter reports no power
    EXPECT_EQ(r.health.condition, BatteryCondition::service);

    FixtureMachine desktop(testing::nct6775Desktop);
    r = desktop.read();
    EXPECT_FALSE(r.battery.isPresent);
    EXPECT_EQ(r.battery.summarySubtitle(), "Connected to external power");
    EXPECT_EQ(PowerInfoBarState::make(r.battery, r.power).items.size(), 2u);
}

} // namespace
} // namespace ventoral
