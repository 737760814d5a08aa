// The shared power service reads this machine: the controller service's power keys, the
// power_supply and Type-C classes, /proc and the desktop entries, the profile daemon.
#include "platform/power/SharedPowerBatteryService.h"

#include "core/common/MainThread.h"
#include "core/smc/SMCKeys.h"
#include "platform/power/PowerProfiles.h"
#include "platform/power/PowerSourceEvents.h"
#include "platform/power/SysfsPowerSourceProvider.h"
#include "platform/power/SysfsUSBTopologyReader.h"
#include "platform/process/DesktopApplications.h"
#include "platform/process/ProcfsProcessTable.h"
#include "platform/system/ProcessEnvironment.h"

#include <mutex>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

namespace ventoral {

PowerBatteryPlatform linuxPowerBatteryPlatform(SMCService& smc) {
    const std::string sys = sysfsRoot();
    const std::string proc = procRoot();
    auto flag = std::make_shared<LowPowerModeFlag>(sys, openSystemBus);
    auto flagLock = std::make_shared<std::mutex>();

    PowerBatteryPlatform p;
    p.readPowerSensors = [&smc] { return smc.readPowerAndBatterySensors(); };
    p.readSystemPowerScalar = [&smc]() -> std::optional<double> {
        std::lock_guard guard(smc.lock());
        return smc.decodePowerScalarUnlocked(SMCKey::systemPower).value;
    };
    p.powerSources = std::make_shared<SysfsPowerSourceProvider>(sys);
    p.usbTopology = std::make_shared<SysfsUSBTopologyReader>(sys);
    p.monitor =
        std::make_shared<PowerSourceEventMonitor>(openUdevPowerSupplyEvents, postToMainThread);
    p.processes = std::make_shared<ProcfsProcessTable>(proc, getuid(), sysconf(_SC_CLK_TCK));
    p.applications = std::make_shared<DesktopApplications>(
        DesktopApplications::settingsFromEnvironment(proc, getuid()));
    p.isLowPowerModeEnabled = [flag, flagLock] {
        std::lock_guard guard(*flagLock);
        return flag->isEnabled();
    };
    p.systemUptime = [proc] { return systemUptimeSeconds(proc); };
    p.now = systemWallClock();
    p.postToMain = postToMainThread;
    // No power report program on Linux: the report's values stay absent and the fallbacks apply.
    p.runProfiler = nullptr;
    return p;
}

PowerBatteryService& PowerBatteryService::shared() {
    static std::shared_ptr<PowerBatteryService> instance =
        make(linuxPowerBatteryPlatform(SMCService::shared()));
    return *instance;
}

} // namespace ventoral
