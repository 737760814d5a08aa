// What one tick of the engine costs, assembled as the running program assembles it, counted by
// the sysfs layer itself.
#include "application/engine/FanViewModel.h"
#include "core/common/DefaultsStore.h"
#include "platform/power/SharedPowerBatteryService.h"
#include "platform/power/WatchedLowPowerMode.h"
#include "platform/smc/SharedSMCService.h"
#include "platform/sysfs/SysfsFiles.h"
#include "tests/application/engine/EngineRig.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SysfsFixture.h"

#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {
namespace {

using namespace testing;

struct AssembledDesktop {
    AssembledDesktop() {
        nct6775Desktop(machine);
        machine.write("firmware/acpi/platform_profile_choices", "quiet balanced performance");
        machine.write("firmware/acpi/platform_profile", "balanced");
        std::ofstream(proc.path() + "/uptime") << "100.0 100.0\n";
        smc = makeProcessSMCService();
        lowPower = std::make_shared<WatchedLowPowerMode>(machine.root(), openSystemBus);
        power = PowerBatteryService::make(linuxPowerBatteryPlatform(*smc, lowPower));
        engine = std::make_unique<FanViewModel>(
            linuxEngineCollaborators(*smc, sim, *power, presets, writer, lowPower), true);
        engine->stopTelemetry(); // ticks are driven here, not by a timer
        engine->startTelemetry();
        engine->timer()->stop();
    }
    // The files one tick opens, each with how often.
    std::map<std::string, int> tick(bool full) {
        engine->setDashboardVisible(full);
        engine->telemetryTick(); // anything a change of visibility starts settles here
        sysfs::OpenCounter counter;
        engine->telemetryTick();
        std::map<std::string, int> opens;
        for (const auto& [path, count] : counter.opens()) {
            opens[path.rfind(machine.root(), 0) == 0 ? path.substr(machine.root().size()) : path] =
                count;
        }
        return opens;
    }

    PrivateBus bus;
    SysfsFixture machine;
    TemporaryFolder proc, config;
    ScopedEnvironmentVariable sysfs{"VENTORAL_SYSFS_ROOT", machine.root()};
    ScopedEnvironmentVariable procfs{"VENTORAL_PROC_ROOT", proc.path()};
    ScopedEnvironmentVariable systemBus{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()};
    ScopedEnvironmentVariable noProfile{"VENTORAL_SMC_PROFILE", ""};
    std::unique_ptr<SMCService> smc;
    std::shared_ptr<WatchedLowPowerMode> lowPower;
    std::shared_ptr<PowerBatteryService> power;
    FanSimulationService sim{SimulationHost{}};
    FanPresetManager presets{std::make_shared<InMemoryDefaultsStore>()};
    FakeWriter writer;
    std::unique_ptr<FanViewModel> engine;
};

TEST(EngineTickCost, EachFileOnceAndNoConstantReadAgain) {
    AssembledDesktop desktop;
    ASSERT_TRUE(desktop.bus.isUp());
    for (bool full : {false, true}) {
        const auto opens = desktop.tick(full);
        EXPECT_FALSE(opens.empty());
        for (const auto& [path, count] : opens) {
            EXPECT_EQ(count, 1) << path << (full ? " (full tick)" : " (light tick)");
            // Limits, labels and the power-supply set change only with the hardware.
            for (const char* constant : {"_min", "_max", "_label", "platform_profile"}) {
                EXPECT_EQ(path.find(constant), std::string::npos) << path;
            }
        }
        if (!full) {
            EXPECT_FALSE(opens.count("/class/power_supply")) << "listed on a light tick";
        }
    }
}

} // namespace
} // namespace ventoral
