#include "helper/daemon/HelperRequests.h"

#include "core/helper/HelperProtocol.h"
#include "core/smc/SMCKeys.h"

#include <cmath>

namespace ventoral {
namespace {

namespace Reply = HelperProtocol::Reply;

} // namespace

HelperRequests::HelperRequests(DirectSMCOperator& smc, LowPowerModeSetter setLowPowerMode,
                               uid_t effectiveUid, FanCustody& custody,
                               std::function<void()> custodyChanged, ThermalHold& hold,
                               CallerAuthorizer authorize, std::ostream& log,
                               FanCalibrations* calibrations)
    : smc_(smc), setLowPowerMode_(std::move(setLowPowerMode)), euid_(effectiveUid),
      custody_(custody), custodyChanged_(std::move(custodyChanged)), hold_(hold),
      authorize_(std::move(authorize)), log_(log), calibrations_(calibrations) {}

HelperRequests::Result HelperRequests::ping() const {
    return {true, Reply::pingPrefix + std::to_string(euid_) + ")"};
}

std::optional<std::string> HelperRequests::thermalRefusal(std::int64_t index,
                                                          const std::string& sender) {
    auto refusal = hold_.refusal(index, [this] { return smc_.readNumber(SMCKey::cpuPackage); });
    if (refusal) {
        log_ << "VentoralHelper: refused manual control of fan " << index << " to " << sender
             << ": the CPU has not cooled below " << ThermalHold::releaseCelsius << " C yet\n";
    }
    return refusal;
}

std::optional<std::string> HelperRequests::calibrationRefusal(std::int64_t index) const {
    if (calibrations_ && calibrations_->running() == index) {
        return Reply::calibratingPrefix + std::to_string(index) + Reply::calibratingSuffix;
    }
    return std::nullopt;
}

void HelperRequests::noteCustody(std::int64_t index, bool succeeded, const std::string& sender) {
    if (succeeded || smc_.isFanManual(index)) {
        custody_.noteManual(index, sender);
        custodyChanged_();
    }
}

HelperRequests::Result HelperRequests::setFanRPM(std::int64_t index, double rpm,
                                                 const std::string& sender) {
    // The speed is narrowed to a 32-bit float; one beyond a float becomes infinite and is
    // refused with the rest of the non-finite values.
    const float speed = static_cast<float>(rpm);
    if (!authorize_(sender, HelperProtocol::Action::controlFans)) {
        return {false, Reply::notAuthorizedForFans};
    }
    const bool valid = isFanIndex(index) && std::isfinite(speed);
    if (valid) {
        if (auto refusal = calibrationRefusal(index)) {
            return {false, *refusal};
        }
        if (auto refusal = thermalRefusal(index, sender)) {
            return {false, *refusal};
        }
    }
    // A fan held manual here that no longer is was switched back by someone else.
    if (valid && custody_.holds(index) && !smc_.isFanManual(index)) {
        log_ << "VentoralHelper: fan " << index << " was switched away from manual control by "
             << "another program since " << sender << " last set it\n";
    }
    const bool succeeded = smc_.setFanRPM(index, speed);
    if (valid) {
        noteCustody(index, succeeded, sender);
    }
    if (succeeded) {
        return {true, {}};
    }
    log_ << "VentoralHelper: writing " << rpm << " RPM to fan " << index << " for " << sender
         << " failed\n";
    return {false, Reply::rpmFailedPrefix + std::to_string(index)};
}

HelperRequests::Result HelperRequests::setFanMode(std::int64_t index, std::int64_t mode,
                                                  const std::string& sender) {
    const bool manual = mode == 1;
    // Back to automatic control is a hand-back, which anyone may ask for.
    if (manual && !authorize_(sender, HelperProtocol::Action::controlFans)) {
        return {false, Reply::notAuthorizedForFans};
    }
    if (isFanIndex(index)) {
        if (auto refusal = calibrationRefusal(index)) {
            return {false, *refusal};
        }
    }
    if (manual && isFanIndex(index)) {
        if (auto refusal = thermalRefusal(index, sender)) {
            return {false, *refusal};
        }
    }
    const bool succeeded = smc_.setFanMode(index, mode);
    if (isFanIndex(index)) {
        if (manual) {
            noteCustody(index, succeeded, sender);
        } else if (succeeded) {
            custody_.noteAutomatic(index);
            custodyChanged_();
        }
    }
    if (succeeded) {
        return {true, {}};
    }
    log_ << "VentoralHelper: switching fan " << index << " to mode " << mode << " for " << sender
         << " failed\n";
    return {false, Reply::modeFailedPrefix + std::to_string(index)};
}

HelperRequests::Result HelperRequests::resetAllFansToAuto() {
    if (calibrations_) {
        calibrations_->cancel(); // the measured fan goes back as it was
    }
    if (smc_.resetAllFansToAuto()) {
        custody_.noteAllAutomatic();
        custodyChanged_();
        return {true, {}};
    }
    log_ << "VentoralHelper: resetting every fan to automatic control failed\n";
    return {false, Reply::resetFailed};
}

HelperRequests::Result HelperRequests::setLowPowerMode(bool enabled, const std::string& sender) {
    if (!authorize_(sender, HelperProtocol::Action::switchPowerProfile)) {
        return {false, Reply::notAuthorizedForProfile};
    }
    if (setLowPowerMode_(enabled)) {
        return {true, {}};
    }
    return {false, Reply::lowPowerModeFailed};
}

HelperRequests::Result HelperRequests::calibrate(std::int64_t index, const std::string& sender) {
    if (!authorize_(sender, HelperProtocol::Action::controlFans)) {
        return {false, Reply::notAuthorizedForFans};
    }
    if (!calibrations_) {
        return {false, Reply::calibrationUnavailable};
    }
    if (isFanIndex(index)) {
        if (auto refusal = thermalRefusal(index, sender)) {
            return {false, *refusal};
        }
    }
    if (auto refusal = calibrations_->start(index)) {
        return {false, *refusal};
    }
    log_ << "VentoralHelper: calibrating fan " << index << " for " << sender << "\n";
    return {true, Reply::calibrationStartedPrefix + std::to_string(index)};
}

} // namespace ventoral
