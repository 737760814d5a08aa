#pragma once

#include "application/engine/FanViewModel.h"
#include "core/common/DefaultsStore.h"
#include "platform/power/SharedPowerBatteryService.h"
#include "platform/power/WatchedLowPowerMode.h"
#include "platform/smc/SharedSMCService.h"
#include "platform/sysfs/SysfsFiles.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SysfsFixture.h"

#include <QTimer>
#include <fstream>
#include <map>
#include <sdbus-c++/sdbus-c++.h>
#include <string>

namespace ventoral::testing {

// The nct6775 desktop with the engine assembled as the running program assembles it: the
// process's controller service with its thermal channels, the Low Power Mode flag kept by
// events, the machine's power platform. Its own system bus; ticks are driven by the caller.
struct AssembledDesktop {
    explicit AssembledDesktop(FanWriter& writer) {
        nct6775Desktop(machine);
        machine.write("firmware/acpi/platform_profile_choices", "quiet balanced performance");
        machine.write("firmware/acpi/platform_profile", "balanced");
        std::ofstream(proc.path() + "/uptime") << "100.0 100.0\n";
        smc = makeProcessSMCService();
        lowPower = std::make_shared<WatchedLowPowerMode>(machine.root(), openSystemBus);
        power = PowerBatteryService::make(linuxPowerBatteryPlatform(*smc, lowPower));
        engine = std::make_unique<FanViewModel>(
            linuxEngineCollaborators(*smc, sim, *power, presets, writer, lowPower), true);
        engine->stopTelemetry();
        engine->startTelemetry();
        engine->timer()->stop();
    }
    void setFull(bool full) {
        engine->setDashboardVisible(full);
        engine->telemetryTick(); // anything a change of visibility starts settles here
    }
    // The files one tick opens, each with how often; with `relative`, those of the machine
    // below its root.
    std::map<std::string, int> countedTick(bool relative = true) {
        sysfs::OpenCounter counter;
        engine->telemetryTick();
        std::map<std::string, int> opens;
        for (const auto& [path, count] : counter.opens()) {
            const bool mine = relative && path.rfind(machine.root(), 0) == 0;
            opens[mine ? path.substr(machine.root().size()) : path] = count;
        }
        return opens;
    }

    PrivateBus bus;
    SysfsFixture machine;
    TemporaryFolder proc;
    ScopedEnvironmentVariable sysfs{"VENTORAL_SYSFS_ROOT", machine.root()};
    ScopedEnvironmentVariable procfs{"VENTORAL_PROC_ROOT", proc.path()};
    ScopedEnvironmentVariable systemBus{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()};
    ScopedEnvironmentVariable noProfile{"VENTORAL_SMC_PROFILE", ""};
    std::unique_ptr<SMCService> smc;
    std::shared_ptr<WatchedLowPowerMode> lowPower;
    std::shared_ptr<PowerBatteryService> power;
    FanSimulationService sim{SimulationHost{}};
    FanPresetManager presets{std::make_shared<InMemoryDefaultsStore>()};
    std::unique_ptr<FanViewModel> engine;
};

} // namespace ventoral::testing
