#include "helper/operator/DirectSMCOperator.h"

#include "core/smc/SMCError.h"
#include "core/smc/SMCFanControl.h"
#include "core/smc/SMCKeys.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace ventoral {
namespace {

// The operator's plain reads and writes as the shared fan rules expect them.
class OperatorKeyAccess final : public SMCKeyAccess {
public:
    explicit OperatorKeyAccess(DirectSMCOperator& smc) : smc_(smc) {}

    SMCKeyLookup lookUpKey(const std::string& key) override {
        if (auto info = smc_.readKeyInfo(key)) {
            return {info->dataType, std::nullopt};
        }
        return {std::nullopt, SMCError::keyNotFound(key)};
    }
    std::optional<double> readFiniteNumber(const std::string& key) override {
        return smc_.readNumber(key);
    }
    std::optional<SMCError> writeKey(const std::string& key, std::span<const std::uint8_t> bytes,
                                     const std::string& dataType) override {
        if (smc_.writeRaw(key, bytes, dataType)) {
            return std::nullopt;
        }
        return SMCError::writeFailed(key);
    }

private:
    DirectSMCOperator& smc_;
};

} // namespace

DirectSMCOperator::DirectSMCOperator(std::unique_ptr<SmcTransport> transport)
    : transport_(std::move(transport)) {
    openConnection();
}

DirectSMCOperator::~DirectSMCOperator() {
    std::lock_guard guard(lock_);
    if (transport_->isOpen()) {
        transport_->close();
    }
}

bool DirectSMCOperator::openUnlocked() {
    return transport_->isOpen() || transport_->open();
}

bool DirectSMCOperator::openConnection() {
    std::lock_guard guard(lock_);
    return openUnlocked();
}

std::optional<SMCKeyData_t> DirectSMCOperator::callUnlocked(const SMCKeyData_t& input) {
    if (!openUnlocked()) {
        return std::nullopt;
    }
    auto reply = transport_->call(toBytes(input));
    SMCKeyData_t output = fromBytes(reply.output);
    if (reply.kernelReturn != SMCReturn::success || output.result != 0) {
        return std::nullopt;
    }
    return output;
}

std::optional<SMCKeyInfoData> DirectSMCOperator::readKeyInfoUnlocked(const std::string& key) {
    if (auto output = callUnlocked(keyInfoRequest(key))) {
        return output->keyInfo;
    }
    return std::nullopt;
}

std::optional<OperatorKeyInfo> DirectSMCOperator::readKeyInfo(const std::string& key) {
    std::lock_guard guard(lock_);
    auto info = readKeyInfoUnlocked(key);
    if (!info) {
        return std::nullopt;
    }
    return OperatorKeyInfo{info->dataSize, stringFromFourCharCode(info->dataType),
                           info->dataAttributes};
}

std::optional<double> DirectSMCOperator::readNumber(const std::string& key) {
    auto info = readKeyInfo(key);
    if (!info) {
        return std::nullopt;
    }
    std::lock_guard guard(lock_);
    auto output = callUnlocked(readBytesRequest(key, info->dataSize));
    if (!output) {
        return std::nullopt;
    }
    try {
        return decodeSMCNumber(replyBytes(*output, info->dataSize), info->dataType);
    } catch (const SMCError&) {
        return std::nullopt;
    }
}

bool DirectSMCOperator::writeRaw(const std::string& key, std::span<const std::uint8_t> bytes,
                                 std::optional<std::string> dataType) {
    std::lock_guard guard(lock_);
    auto info = readKeyInfoUnlocked(key); // opens the connection when needed
    if (!info) {
        return false;
    }
    // Sent back as the controller reported it, attributes included.
    if (dataType) {
        info->dataType = fourCharCode(*dataType);
    }
    return callUnlocked(writeBytesRequest(key, *info, bytes)).has_value();
}

int DirectSMCOperator::readFanCount() {
    return fanCountFrom(readNumber(SMCKey::fanCount));
}

bool DirectSMCOperator::neverTakenOver(std::int64_t index) {
    std::optional<std::set<std::int64_t>> taken;
    {
        std::lock_guard guard(lock_);
        if (openUnlocked()) {
            taken = transport_->fansTakenOver();
        }
    }
    return isLeftToItsUser(taken, index, readFanCount());
}

bool DirectSMCOperator::setFanMode(std::int64_t index, std::int64_t mode) {
    // Automatic control is this program's to give back only for fans it took; any other is
    // left as its user has it (an explicit reset is resetAllFansToAuto).
    if (mode != 1 && neverTakenOver(index)) {
        return true;
    }
    OperatorKeyAccess access(*this);
    return !writeFanModeKeys(access, index, mode == 1);
}

bool DirectSMCOperator::setFanRPM(std::int64_t index, float rpm) {
    {
        // A calibration stored by another helper process changes how speeds become duties.
        std::lock_guard guard(lock_);
        (void)transport_->fanLimitsChanged();
    }
    if (!isFanIndex(index) || !std::isfinite(rpm)) {
        return false;
    }
    OperatorKeyAccess access(*this);
    return !writeFanModeKeys(access, index, true) && !writeFanTargetKey(access, index, rpm);
}

bool DirectSMCOperator::resetAllFansToAuto() {
    const int n = readFanCount();
    OperatorKeyAccess access(*this);
    // With no fan count, fan 0 is still tried: a controller may hide the count.
    const FanResetOutcome outcome = resetFanKeys(access, std::max(n, 1));
    const bool anySucceeded = outcome.anyFanReset || outcome.maskCleared;
    if (n != 0 || anySucceeded) {
        return anySucceeded;
    }
    return !readKeyInfo(SMCKey::fan(0, SMCKey::FanField::mode)) && !outcome.hasMask;
}

std::vector<std::int64_t> DirectSMCOperator::handBackFans(const std::vector<std::int64_t>& fans,
                                                          bool everyRemembered) {
    std::optional<std::set<std::int64_t>> taken;
    {
        std::lock_guard guard(lock_);
        if (openUnlocked()) {
            taken = transport_->fansTakenOver();
        }
    }
    std::set<std::int64_t> wanted(fans.begin(), fans.end());
    if (taken) {
        std::set<std::int64_t> remembered;
        for (std::int64_t fan : *taken) {
            if (everyRemembered || wanted.contains(fan)) {
                remembered.insert(fan);
            }
        }
        wanted = std::move(remembered);
    }
    std::vector<std::int64_t> handedBack;
    for (std::int64_t fan : wanted) {
        if (setFanMode(fan, 0)) {
            handedBack.push_back(fan);
        }
    }
    return handedBack;
}

bool DirectSMCOperator::isFanManual(std::int64_t index) {
    auto mode = readNumber(SMCKey::fan(index, SMCKey::FanField::mode));
    return mode && std::trunc(*mode) != 0;
}

std::vector<std::string> DirectSMCOperator::takeNotices() {
    std::lock_guard guard(lock_);
    return transport_->takeNotices();
}

std::vector<FanLimitsInfo> DirectSMCOperator::fanLimits() {
    std::lock_guard guard(lock_);
    return openUnlocked() ? transport_->fanLimits() : std::vector<FanLimitsInfo>{};
}

FanCalibrationOutcome DirectSMCOperator::calibrateFan(std::int64_t index,
                                                      const FanCalibrationControl& control) {
    {
        std::lock_guard guard(lock_);
        if (!openUnlocked()) {
            return {false, "The fan controller cannot be opened"};
        }
    }
    // Not under `lock`: the controller serialises its own exchanges, so the backstop's
    // readings and other fans' writes go on while this one is measured.
    return transport_->calibrateFan(index, control);
}

} // namespace ventoral
