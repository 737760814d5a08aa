#pragma once

#include "helper/daemon/ThermalHold.h"
#include "helper/operator/DirectSMCOperator.h"

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ventoral {

// What a helper run needs from its process, injected so tests drive it in process.
struct HelperServices {
    std::function<std::unique_ptr<DirectSMCOperator>()> makeOperator;
    std::function<bool(bool enabled)> setLowPowerMode;
    std::function<bool()> install;
    // Serves the D-Bus interface with the operator until stopped; returns the exit status.
    std::function<int(DirectSMCOperator&)> runDaemon;
    uid_t effectiveUid = 0;
    // The user who started the run: a set-user-id run has root's effective id but not this.
    uid_t realUid = 0;
    // The backstop's holds, which a one-shot write honours as the daemon does.
    ThermalHold& hold;
    // Whether the user who started a set-user-id run may do `action` (a HelperProtocol action):
    // root may; anyone else only from an active local session.
    std::function<bool(const char* action)> realUserMay;
    std::ostream& out;
    std::ostream& err;
    // Whether the user asked a long run (a calibration) to stop; none: never.
    std::function<bool()> interrupted = {};
};

// Runs one helper command line (the arguments after the program name); returns the exit status.
int runHelperCommandLine(const std::vector<std::string>& arguments, HelperServices& services);

// Whole-argument parses: a decimal 64-bit integer with an optional sign; a 32-bit float (where
// infinity and not-a-number parse, to be refused by the write).
std::optional<std::int64_t> parseIndexArgument(const std::string& text);
std::optional<float> parseSpeedArgument(const std::string& text);
bool parseLowPowerModeValue(const std::string& text);

} // namespace ventoral
