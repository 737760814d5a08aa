#include "platform/hwmon/HwmonSmcTransport.h"

#include "core/smc/SMCService.h"
#include "platform/hwmon/HwmonInventory.h"
#include "platform/hwmon/HwmonThermalChannelSource.h"
#include "platform/sysfs/SysfsFiles.h"
#include "tests/platform/hwmon/HwmonMachine.h"
#include "tests/support/SysfsFixture.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

using testing::Machine;
using testing::SysfsFixture;

TEST(HwmonFans, DesktopBoardReadsInDeviceOrder) {
    Machine m(testing::nct6775Desktop);
    auto fans = m->readFans();
    ASSERT_EQ(fans.size(), 4u);
    EXPECT_EQ(fans[0].name, "GPU Fan (amdgpu)");
    EXPECT_EQ(fans[0].currentRPM, 1100);
    EXPECT_EQ(fans[0].minRPM, 0);
    EXPECT_EQ(fans[0].maxRPM, 3300);
    EXPECT_FLOAT_EQ(fans[0].targetRPM, 80.0f / 255 * 3300); // from the duty, not fan1_target
    EXPECT_EQ(fans[1].currentRPM, 900);
    // fan1_min is the board's alarm threshold: the usual limits, with the duty floor under them.
    EXPECT_EQ(fans[1].minRPM, 1200);
    EXPECT_EQ(fans[1].maxRPM, 6500);
    EXPECT_FLOAT_EQ(fans[1].targetRPM, 1200 + (91.0f - 77) / (255 - 77) * (6500 - 1200));
    EXPECT_EQ(fans[3].name, "nct6775 Fan 3");
    EXPECT_EQ(fans[3].currentRPM, 1100);
    for (const auto& fan : fans) {
        EXPECT_EQ(fan.mode, FanMode::automatic);
    }
}

TEST(HwmonFans, OrderSurvivesRenumberedHwmonFolders) {
    SysfsFixture a, b;
    testing::nct6775DesktopNumbered(a, 0);
    testing::nct6775DesktopNumbered(b, 7);
    std::vector<std::string> idsA, idsB;
    for (const auto& fan : scanHwmon(a.root()).fans) {
        idsA.push_back(fan.id);
    }
    for (const auto& fan : scanHwmon(b.root()).fans) {
        idsB.push_back(fan.id);
    }
    EXPECT_EQ(idsA, idsB);
    ASSERT_EQ(idsA.size(), 4u);
    EXPECT_EQ(idsA[0], "/devices/pci0000:00/0000:00:01.1/0000:03:00.0:amdgpu:fan1");
    EXPECT_EQ(idsA[3], "/devices/platform/nct6775.656:nct6775:fan3");
}

TEST(HwmonFans, ThinkpadAndApplesmcShapes) {
    Machine thinkpad(testing::thinkpadLaptop);
    auto fans = thinkpad->readFans();
    ASSERT_EQ(fans.size(), 1u);
    EXPECT_EQ(fans[0].name, "Fan (thinkpad)");
    EXPECT_EQ(fans[0].currentRPM, 2900);

    Machine mac(testing::applesmcLaptop);
    fans = mac->readFans();
    ASSERT_EQ(fans.size(), 2u);
    EXPECT_EQ(fans[0],
              (FanInfo{0, "Left Fan (CPU)", 2000, 1200, 6200, 2000, FanMode::automatic, false}));
    EXPECT_EQ(fans[1].currentRPM, 2010);

    Machine fanless(testing::fanlessMachine);
    EXPECT_EQ(fanless->readFanCount(), 0);
    EXPECT_TRUE(fanless->readFans().empty());
}

TEST(HwmonFans, ManualThenAutomaticRestoresTheOriginalState) {
    Machine m(testing::nct6775Desktop);
    m->writeFanMode(1, FanMode::manual);
    m->writeFanTargetRPM(1, 3250);
    EXPECT_EQ(m.fixture.read("devices/platform/nct6775.656/hwmon/hwmon2/pwm1_enable"), "1");
    // 3250 RPM on the assumed 1200-6500 RPM above the 30 % duty floor.
    EXPECT_EQ(m.fixture.read("devices/platform/nct6775.656/hwmon/hwmon2/pwm1"), "146");
    EXPECT_EQ(m->readFans()[1].mode, FanMode::manual);

    m.open(); // a later process, as a one-shot reset would be
    m.writes.clear();
    m->writeFanMode(1, FanMode::automatic);
    EXPECT_EQ(m.writes, (std::vector<std::string>{
                            "/class/hwmon/hwmon2/pwm1=91",
                            "/class/hwmon/hwmon2/pwm1_enable=5",
                        }));
    EXPECT_EQ(m->readFans()[1].mode, FanMode::automatic);
    EXPECT_FALSE(m.fixture.exists(".ventoral-state") &&
                 !sysfs::list(m.fixture.root() + "/.ventoral-state").empty());
}

TEST(HwmonFans, TheModeIsWrittenOnlyWhenItIsNotManualAlready) {
    Machine m(testing::nct6775Desktop);
    for (int write = 0; write < 3; ++write) {
        m->writeFanMode(1, FanMode::manual);
        m->writeFanTargetRPM(1, 3250);
    }
    EXPECT_EQ(m.writes, (std::vector<std::string>{
                            "/class/hwmon/hwmon2/pwm1_enable=1", "/class/hwmon/hwmon2/pwm1=146",
                            "/class/hwmon/hwmon2/pwm1=146", "/class/hwmon/hwmon2/pwm1=146"}));
    // The firmware took it back (after resume): the next write takes it again.
    m.fixture.write("devices/platform/nct6775.656/hwmon/hwmon2/pwm1_enable", "5");
    m.writes.clear();
    m->writeFanMode(1, FanMode::manual);
    EXPECT_EQ(m.writes, std::vector<std::string>{"/class/hwmon/hwmon2/pwm1_enable=1"});
    // What it goes back to is still the state before the first takeover.
    m->writeFanMode(1, FanMode::automatic);
    EXPECT_EQ(m.fixture.read("devices/platform/nct6775.656/hwmon/hwmon2/pwm1"), "91");
    EXPECT_EQ(m.fixture.read("devices/platform/nct6775.656/hwmon/hwmon2/pwm1_enable"), "5");
}

TEST(HwmonFans, AutomaticWithoutMemoryUsesTheDriversOwnValue) {
    struct Case {
        const char* chip;
        const char* expectedEnable;
        const char* expectedPwm;
    };
    for (auto c :
         {Case{"nct6775", "5", "60"}, Case{"thinkpad", "2", "60"}, Case{"pwmfan", "1", "255"}}) {
        SysfsFixture f;
        f.hwmon(0, "platform/fan", c.chip,
                {{"fan1_input", "1000"}, {"pwm1", "60"}, {"pwm1_enable", "1"}});
        SMCService service(
            std::make_unique<HwmonSmcTransport>(f.root(), FanControlMemory::folderFor(f.root())));
        // Asking for automatic control leaves a fan this program never took as it is...
        service.writeFanMode(0, FanMode::automatic);
        EXPECT_EQ(f.read("devices/platform/fan/hwmon/hwmon0/pwm1_enable"), "1") << c.chip;
        // ...an explicit reset gives it the driver's own automatic mode.
        EXPECT_EQ(service.resetAllFansToAutomatic(), std::nullopt) << c.chip;
        EXPECT_EQ(f.read("devices/platform/fan/hwmon/hwmon0/pwm1_enable"), c.expectedEnable)
            << c.chip;
        EXPECT_EQ(f.read("devices/platform/fan/hwmon/hwmon0/pwm1"), c.expectedPwm) << c.chip;
    }
}

TEST(HwmonFans, ADriverThatKeepsManualModeIsLeftAtFullDuty) {
    Machine m(testing::nct6775Desktop);
    m->writeFanMode(1, FanMode::manual);
    m->writeFanTargetRPM(1, 1000);
    // The driver accepts the write but stays in manual mode.
    m.refusals["pwm1_enable"] = 0;
    m->writeFanMode(1, FanMode::automatic);
    EXPECT_EQ(m.fixture.read("devices/platform/nct6775.656/hwmon/hwmon2/pwm1"), "255");
}

TEST(HwmonFans, RefusedWritesSurfaceAsThePrivilegeError) {
    for (int error : {EACCES, EPERM, EROFS}) {
        Machine m(testing::thinkpadLaptop);
        m.refusals["pwm1_enable"] = error;
        try {
            m->writeFanMode(0, FanMode::manual);
            ADD_FAILURE() << "write accepted";
        } catch (const SMCError& e) {
            EXPECT_STREQ(e.what(), "Root privileges required to modify SMC fan registers") << error;
        }
    }
    Machine m(testing::thinkpadLaptop);
    m.refusals["pwm1"] = EIO;
    try {
        m->writeFanTargetRPM(0, 3000);
        FAIL();
    } catch (const SMCError& e) {
        EXPECT_EQ(e.kind(), SMCError::Kind::callFailed);
    }
}

TEST(HwmonFans, TargetsGoOnlyToTheChannelsOwnFile) {
    Machine mac(testing::applesmcLaptop);
    mac->writeFanMode(1, FanMode::manual);
    mac->writeFanTargetRPM(1, 4321);
    EXPECT_EQ(mac.writes,
              (std::vector<std::string>{"/class/hwmon/hwmon0/device/fan2_manual=1",
                                        "/class/hwmon/hwmon0/device/fan2_output=4321"}));

    Machine desktop(testing::nct6775Desktop);
    desktop->writeFanTargetRPM(0, 3300); // amdgpu: by duty, never its fan1_target
    EXPECT_EQ(desktop.writes, (std::vector<std::string>{"/class/hwmon/hwmon1/pwm1=255"}));
    EXPECT_EQ(desktop.fixture.read(
                  "devices/pci0000:00/0000:00:01.1/0000:03:00.0/hwmon/hwmon1/fan1_target"),
              "1100");
}

TEST(HwmonFans, FansPastTheTenthAreNamedAsNotListed) {
    SysfsFixture machine;
    testing::Attributes board;
    for (int n = 1; n <= 12; ++n) {
        board["fan" + std::to_string(n) + "_input"] = "1000";
    }
    machine.hwmon(2, "platform/it87.2608", "it8792", board);
    SMCService service(std::make_unique<HwmonSmcTransport>(
        machine.root(), FanControlMemory::folderFor(machine.root())));
    EXPECT_EQ(service.readFanCount(), 10);
    const auto unlisted = service.unlistedFans();
    ASSERT_EQ(unlisted.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const std::string& line = unlisted[static_cast<std::size_t>(i)];
        EXPECT_EQ(line.rfind("it8792 fan " + std::to_string(11 + i) + " (", 0), 0u) << line;
        EXPECT_NE(line.find("it87.2608"), std::string::npos) << line;
        EXPECT_TRUE(line.ends_with("): only the first 10 fans can be addressed")) << line;
    }
}

TEST(HwmonFans, GarbageAndVanishingChannels) {
    Machine m(testing::nct6775Desktop);
    const std::string fan1 = "devices/platform/nct6775.656/hwmon/hwmon2/fan1_input";
    for (const char* junk : {"garbage", "", "99999999999999999999999", "-300", "12 34"}) {
        m.fixture.write(fan1, junk);
        auto fans = m->readFans();
        ASSERT_EQ(fans.size(), 4u) << junk;
        EXPECT_EQ(fans[1].currentRPM, 0) << junk;
    }
    m.fixture.remove("class/hwmon/hwmon2");
    m.fixture.remove("devices/platform/nct6775.656");
    (void)m->readFans(); // notices the loss
    auto fans = m->readFans();
    EXPECT_EQ(fans.size(), 1u);
}

TEST(HwmonTemperatures, KeysAndChannelsOfEachMachine) {
    Machine desktop(testing::nct6775Desktop);
    auto sensors = desktop->readThermalSensors(false);
    std::vector<std::pair<std::string, SensorCategory>> seen;
    for (const auto& s : sensors) {
        seen.emplace_back(s.name, s.category);
    }
    using C = SensorCategory;
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, SensorCategory>>{
                        {"amdgpu edge", C::gpu},
                        {"amdgpu junction", C::gpu},
                        {"nvme Composite SSD", C::storage},
                        {"k10temp Tctl CPU", C::cpu},
                        {"nct6775 SYSTIN", C::system},
                        {"nct6775 CPUTIN", C::cpu},
                        {"CPU Proximity", C::cpu},
                        {"GPU Proximity", C::gpu},
                    }));
    EXPECT_DOUBLE_EQ(sensors[6].temperature, 48.25);

    Machine thinkpad(testing::thinkpadLaptop);
    auto primary = thinkpad->readThermalSensors(true);
    ASSERT_EQ(primary.size(), 3u);
    EXPECT_EQ(primary[0].name, "coretemp Package id 0");
    EXPECT_EQ(primary[2].id, "smc_TC0P");
    auto all = thinkpad->readThermalSensors(false);
    EXPECT_EQ(all[0].name, "BAT0 temp1 Battery");
    EXPECT_EQ(all[0].category, C::battery);

    Machine fanless(testing::fanlessMachine);
    auto pi = fanless->readThermalSensors(true);
    ASSERT_EQ(pi.size(), 2u);
    EXPECT_EQ(pi[0].name, "cpu_thermal temp1");
    EXPECT_EQ(pi[0].category, C::cpu);
    EXPECT_EQ(pi[1].id, "smc_TC0P");
}

TEST(HwmonTemperatures, ImplausibleReadingsAreDropped) {
    using Seen = std::vector<std::pair<std::string, double>>;
    // An implausible package reading drops that sensor and the CPU proximity key read from it.
    const Seen others{{"BAT0 temp1 Battery", 31.5}, {"coretemp Core 0", 50}};
    const Seen plausible{{"BAT0 temp1 Battery", 31.5},
                         {"coretemp Package id 0", 52},
                         {"coretemp Core 0", 50},
                         {"CPU Proximity", 52}};
    const std::pair<const char*, Seen> cases[] = {
        {"52000", plausible}, {"-128000", others}, {"200000", others}, {"nan", others}};
    Machine m(testing::thinkpadLaptop);
    for (const auto& [reading, expected] : cases) {
        m.fixture.write("devices/platform/coretemp.0/hwmon/hwmon6/temp1_input", reading);
        Seen seen;
        for (const auto& sensor : m->readThermalSensors(false)) {
            seen.emplace_back(sensor.name, sensor.temperature);
        }
        EXPECT_EQ(seen, expected) << reading;
    }
}

TEST(HwmonPower, BatteryRailTakesItsSignFromStatus) {
    Machine m(testing::thinkpadLaptop);
    auto r = m->readPowerAndBatterySensors();
    EXPECT_NEAR(*r.batteryVolts, 12.1, 1e-6);
    EXPECT_NEAR(*r.batteryAmps, -1.5, 1e-6);  // positive current_now, but discharging
    EXPECT_NEAR(*r.systemWatts, 18.15, 1e-6); // no psys domain: the battery's discharge power
    m.fixture.write("class/power_supply/BAT0/status", "Charging");
    r = m->readPowerAndBatterySensors();
    EXPECT_NEAR(*r.batteryAmps, 1.5, 1e-6);
    EXPECT_FALSE(r.systemWatts);
    EXPECT_EQ(r.portRails, SMCPortOutputRails::unavailable());
}

TEST(HwmonPower, UsbCSourcesBecomePortRails) {
    SysfsFixture f;
    testing::fanlessMachine(f);
    f.powerSupply("ucsi-source-psy-USBC000:001", {{"type", "USB"},
                                                  {"online", "1"},
                                                  {"voltage_now", "20000000"},
                                                  {"current_now", "3000000"}});
    f.powerSupply(
        "ucsi-source-psy-USBC000:002",
        {{"type", "USB"}, {"online", "0"}, {"voltage_now", "5000000"}, {"current_now", "0"}});
    SMCService service(
        std::make_unique<HwmonSmcTransport>(f.root(), FanControlMemory::folderFor(f.root())));
    auto rails = service.readPowerAndBatterySensors().portRails;
    EXPECT_TRUE(rails.isMeasured);
    EXPECT_EQ(rails.rails, (std::vector<SMCPortRail>{{1, 60.0}}));
    EXPECT_FALSE(service.readPowerAndBatterySensors().batteryVolts); // no battery on this machine
}

TEST(HwmonPower, PackagePowerFromEnergyCounters) {
    Machine m(testing::thinkpadLaptop);
    m.now = 102.0;
    m.fixture.write("class/powercap/intel-rapl:0/energy_uj", "13000000"); // 12 J in 2 s
    auto r = m->readPowerAndBatterySensors();
    EXPECT_NEAR(*r.socPackageWatts, 6.0, 1e-9);
    m.now = 103.0;
    m.fixture.write("class/powercap/intel-rapl:0/energy_uj", "abc");
    EXPECT_FALSE(m->readPowerAndBatterySensors().socPackageWatts);
}

} // namespace
} // namespace ventoral
