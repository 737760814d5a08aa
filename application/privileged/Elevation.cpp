#include "application/privileged/Elevation.h"

#include "core/common/Format.h"
#include "platform/process/ProcessRunner.h"

namespace ventoral {

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

ElevationOutcome runWithPkexec(const std::string& pkexecPath, const std::string& shellCommand) {
    auto run = runProgramCapturingOutput(pkexecPath, {"/bin/sh", "-c", shellCommand});
    if (!run.started) {
        return {ElevationOutcome::Kind::unavailable, {}};
    }
    if (run.exitStatus == 0) {
        return {ElevationOutcome::Kind::succeeded, {}};
    }
    if (run.exitStatus == 126) {
        return {ElevationOutcome::Kind::failed, ElevationText::promptDismissed};
    }
    std::string message = std::string(trimWhitespace(run.output));
    if (message.empty()) {
        return {ElevationOutcome::Kind::unavailable, {}};
    }
    return {ElevationOutcome::Kind::failed, message};
}

} // namespace ventoral
