// The shared simulation lives here because it is backed by this machine's uptime and executable.
#include "core/simulation/FanSimulationService.h"
#include "platform/system/ProcessEnvironment.h"

namespace ventoral {

FanSimulationService& FanSimulationService::shared() {
    static FanSimulationService instance(SimulationHost{
        systemWallClock(),
        [root = procRoot()] { return systemUptimeSeconds(root); },
        ownExecutablePath(),
    });
    return instance;
}

} // namespace ventoral
