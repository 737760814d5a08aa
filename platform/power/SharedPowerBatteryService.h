#pragma once

#include "core/power/PowerBatteryService.h"
#include "platform/process/ProcessRunner.h"

#include <memory>

namespace ventoral {

class WatchedLowPowerMode;

// This machine's power sources, over the given controller service; Low Power Mode as `lowPower`
// keeps it.
PowerBatteryPlatform linuxPowerBatteryPlatform(SMCService& smc,
                                               std::shared_ptr<WatchedLowPowerMode> lowPower);

// A power report program at `path`, run bounded with its output capped.
inline BoundedProgramRunner boundedProgram(std::string path, std::size_t outputLimit = 8 << 20) {
    return [path = std::move(path), outputLimit](const std::vector<std::string>& arguments,
                                                 double timeout) {
        auto run = runProgramBounded(path, arguments, timeout, outputLimit);
        return BoundedRunResult{run.started, run.timedOut || run.outputTooLarge, run.exitStatus,
                                std::move(run.output)};
    };
}

} // namespace ventoral
