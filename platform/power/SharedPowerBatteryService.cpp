// The shared power service reads this machine: the controller service's power keys, the
// power_supply and Type-C classes, /proc and the desktop entries, the profile daemon.
#include "platform/power/SharedPowerBatteryService.h"

#include "core/common/MainThread.h"
#include "core/smc/SMCKeys.h"
#include "platform/power/PowerProfiles.h"
#include "platform/power/PowerSourceEvents.h"
#include "platform/power/SysfsPowerSourceProvider.h"
#include "platform/power/SysfsUSBTopologyReader.h"
#include "platform/power/WatchedLowPowerMode.h"
#include "platform/process/DesktopApplications.h"
#include "platform/process/ProcfsProcessTable.h"
#include "platform/system/ProcessEnvironment.h"

#include <mutex>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

namespace ventoral {
namespace {

// The power-supply set is listed again only when udev says it changed, and only while udev
// can say so.
class SupplySetMonitor final : public PowerSourceMonitor {
public:
    SupplySetMonitor(std::shared_ptr<PowerSourceMonitor> events,
                     std::shared_ptr<PowerSupplySet> supplies)
        : events_(std::move(events)), supplies_(std::move(supplies)) {}

    bool start(std::function<void()> onChange) override {
        const bool watched = events_->start([supplies = supplies_, onChange] {
            supplies->changed();
            onChange();
        });
        supplies_->setWatched(watched);
        return watched;
    }

private:
    std::shared_ptr<PowerSourceMonitor> events_;
    std::shared_ptr<PowerSupplySet> supplies_;
};

} // namespace

PowerBatteryPlatform linuxPowerBatteryPlatform(SMCService& smc,
                                               std::shared_ptr<WatchedLowPowerMode> lowPower) {
    const std::string sys = sysfsRoot();
    const std::string proc = procRoot();

    PowerBatteryPlatform p;
    p.readPowerSensors = [&smc] { return smc.readPowerAndBatterySensors(); };
    p.readSystemPowerScalar = [&smc]() -> std::optional<double> {
        std::lock_guard guard(smc.lock());
        return smc.decodePowerScalarUnlocked(SMCKey::systemPower).value;
    };
    auto supplies = std::make_shared<PowerSupplySet>(sys);
    p.powerSources = std::make_shared<SysfsPowerSourceProvider>(sys, supplies);
    p.usbTopology = std::make_shared<SysfsUSBTopologyReader>(sys);
    p.monitor = std::make_shared<SupplySetMonitor>(
        std::make_shared<PowerSourceEventMonitor>(openUdevPowerSupplyEvents, postToMainThread),
        supplies);
    p.processes = std::make_shared<ProcfsProcessTable>(proc, getuid(), sysconf(_SC_CLK_TCK));
    p.applications = std::make_shared<DesktopApplications>(
        DesktopApplications::settingsFromEnvironment(proc, getuid()));
    p.isLowPowerModeEnabled = [lowPower] { return lowPower->isEnabled(); };
    p.systemUptime = [proc] { return systemUptimeSeconds(proc); };
    p.now = systemWallClock();
    p.postToMain = postToMainThread;
    // No power report program on Linux: the report's values stay absent and the fallbacks apply.
    p.runProfiler = nullptr;
    return p;
}

PowerBatteryService& PowerBatteryService::shared() {
    static std::shared_ptr<PowerBatteryService> instance =
        make(linuxPowerBatteryPlatform(SMCService::shared(), WatchedLowPowerMode::shared()));
    return *instance;
}

} // namespace ventoral
