#pragma once

#include "application/privileged/PrivilegedSMCWriter.h"
#include "core/power/PowerBatteryService.h"
#include "core/presets/FanPresetManager.h"
#include "core/simulation/FanSimulationService.h"
#include "core/smc/SMCService.h"
#include "platform/system/ContestedFansNote.h"

#include <ostream>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace ventoral {

// What the report reads; the process's own services in `runVerificationAndExit`.
struct VerificationSources {
    SMCService& smc;
    PowerBatteryService& power;
    FanPresetManager& presets;
    FanSimulationService& sim;
    PrivilegedSMCWriter& writer;
    uid_t effectiveUid;
    WallClock now = systemWallClock();
    // Where the running application notes the fans it left to another program.
    ContestedFansNote contestedFans{};
};

std::string_view daemonStatusText(DaemonStatus status);

// Prints the verification report, line by line. It writes nothing to the fans.
void writeVerificationReport(std::ostream& out, VerificationSources& sources);

// The two command-line modes; each ends the process.
[[noreturn]] void runVerificationAndExit();
[[noreturn]] void runHelperInstallAndExit();

// The helper installation itself: the exit status it ends with.
int installHelper(std::ostream& out, PrivilegedSMCWriter& writer, uid_t effectiveUid,
                  const std::string& invocation);

} // namespace ventoral
