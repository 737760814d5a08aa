#pragma once

#include "helper/daemon/FanCustody.h"
#include "helper/operator/DirectSMCOperator.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <tuple>

namespace ventoral {

using LowPowerModeSetter = std::function<bool(bool enabled)>;

// The five methods of the helper's interface, apart from the bus: each does its work, notes
// who holds which fan, and gives the reply (success, message; empty for none).
class HelperRequests {
public:
    using Result = std::tuple<bool, std::string>;

    HelperRequests(DirectSMCOperator& smc, LowPowerModeSetter setLowPowerMode, uid_t effectiveUid,
                   FanCustody& custody, std::function<void()> custodyChanged);

    Result ping() const;
    Result setFanRPM(std::int64_t index, double rpm, const std::string& sender);
    Result setFanMode(std::int64_t index, std::int64_t mode, const std::string& sender);
    Result resetAllFansToAuto();
    Result setLowPowerMode(bool enabled);

private:
    DirectSMCOperator& smc_;
    LowPowerModeSetter setLowPowerMode_;
    uid_t euid_;
    FanCustody& custody_;
    std::function<void()> custodyChanged_;
};

} // namespace ventoral
