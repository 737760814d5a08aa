#pragma once

#include "helper/daemon/HelperRequests.h"
#include "helper/operator/DirectSMCOperator.h"

#include <functional>
#include <ostream>
#include <sys/types.h>

namespace sdbus {
class IConnection;
}

namespace ventoral {

// Serves the helper interface on `connection` (which already owns the helper's name) until the
// connection's event loop is left.
// Hand-backs, refusals and failed writes are logged to `log`, one line each.
int serveHelperInterface(sdbus::IConnection& connection, DirectSMCOperator& smc,
                         LowPowerModeSetter setLowPowerMode, uid_t effectiveUid, ThermalHold& hold,
                         std::ostream& log);

// Daemon mode: takes the helper's name on the system bus and serves it.
int runHelperDaemon(DirectSMCOperator& smc, LowPowerModeSetter setLowPowerMode, uid_t effectiveUid,
                    ThermalHold& hold, std::ostream& err);

} // namespace ventoral
