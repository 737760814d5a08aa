#pragma once

#include "helper/daemon/FanCalibrations.h"
#include "helper/daemon/FanCustody.h"
#include "helper/daemon/ThermalHold.h"
#include "helper/operator/DirectSMCOperator.h"

#include <functional>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <tuple>

namespace ventoral {

using LowPowerModeSetter = std::function<bool(bool enabled)>;
// Whether the bus client `sender` may do `action` (one of HelperProtocol::Action).
using CallerAuthorizer = std::function<bool(const std::string& sender, const char* action)>;

// The methods of the helper's interface, apart from the bus: each does its work, notes who
// holds which fan, and gives the reply (success, message; empty for none). Refusals and failed
// writes are logged to `log`, one line each.
class HelperRequests {
public:
    using Result = std::tuple<bool, std::string>;

    HelperRequests(DirectSMCOperator& smc, LowPowerModeSetter setLowPowerMode, uid_t effectiveUid,
                   FanCustody& custody, std::function<void()> custodyChanged, ThermalHold& hold,
                   CallerAuthorizer authorize, std::ostream& log,
                   FanCalibrations* calibrations = nullptr);

    Result ping() const;
    Result setFanRPM(std::int64_t index, double rpm, const std::string& sender);
    Result setFanMode(std::int64_t index, std::int64_t mode, const std::string& sender);
    Result resetAllFansToAuto();
    Result setLowPowerMode(bool enabled, const std::string& sender);
    // Starts measuring a fan's limits; progress and the end come separately.
    Result calibrate(std::int64_t index, const std::string& sender);

private:
    // Custody follows what the fan is now: a failed write to a fan that does not exist holds
    // nothing, one whose mode took but whose target failed holds the fan.
    void noteCustody(std::int64_t index, bool succeeded, const std::string& sender);
    std::optional<std::string> thermalRefusal(std::int64_t index, const std::string& sender);
    // A write to the fan being measured waits for the measurement to end.
    std::optional<std::string> calibrationRefusal(std::int64_t index) const;

    DirectSMCOperator& smc_;
    LowPowerModeSetter setLowPowerMode_;
    uid_t euid_;
    FanCustody& custody_;
    std::function<void()> custodyChanged_;
    ThermalHold& hold_;
    CallerAuthorizer authorize_;
    std::ostream& log_;
    FanCalibrations* calibrations_;
};

} // namespace ventoral
