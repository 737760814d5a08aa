#include "helper/daemon/HelperRequests.h"

#include "core/helper/HelperProtocol.h"

#include <cmath>

namespace ventoral {
namespace {

namespace Reply = HelperProtocol::Reply;

} // namespace

HelperRequests::HelperRequests(DirectSMCOperator& smc, LowPowerModeSetter setLowPowerMode,
                               uid_t effectiveUid, FanCustody& custody,
                               std::function<void()> custodyChanged)
    : smc_(smc), setLowPowerMode_(std::move(setLowPowerMode)), euid_(effectiveUid),
      custody_(custody), custodyChanged_(std::move(custodyChanged)) {}

HelperRequests::Result HelperRequests::ping() const {
    return {true, Reply::pingPrefix + std::to_string(euid_) + ")"};
}

HelperRequests::Result HelperRequests::setFanRPM(std::int64_t index, double rpm,
                                                 const std::string& sender) {
    // The speed is narrowed to a 32-bit float; one beyond a float becomes infinite and is
    // refused with the rest of the non-finite values.
    const float speed = static_cast<float>(rpm);
    const bool succeeded = smc_.setFanRPM(index, speed);
    if (isFanIndex(index) && std::isfinite(speed)) {
        // Held even when the target write failed: the fan may already be manual.
        custody_.noteManual(index, sender);
        custodyChanged_();
    }
    if (succeeded) {
        return {true, {}};
    }
    return {false, Reply::rpmFailedPrefix + std::to_string(index)};
}

HelperRequests::Result HelperRequests::setFanMode(std::int64_t index, std::int64_t mode,
                                                  const std::string& sender) {
    const bool succeeded = smc_.setFanMode(index, mode);
    if (isFanIndex(index)) {
        if (mode == 1) {
            custody_.noteManual(index, sender);
        } else if (succeeded) {
            custody_.noteAutomatic(index);
        }
        custodyChanged_();
    }
    if (succeeded) {
        return {true, {}};
    }
    return {false, Reply::modeFailedPrefix + std::to_string(index)};
}

HelperRequests::Result HelperRequests::resetAllFansToAuto() {
    if (smc_.resetAllFansToAuto()) {
        custody_.noteAllAutomatic();
        custodyChanged_();
        return {true, {}};
    }
    return {false, Reply::resetFailed};
}

HelperRequests::Result HelperRequests::setLowPowerMode(bool enabled) {
    if (setLowPowerMode_(enabled)) {
        return {true, {}};
    }
    return {false, Reply::lowPowerModeFailed};
}

} // namespace ventoral
