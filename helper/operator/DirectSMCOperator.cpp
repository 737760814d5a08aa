#include "helper/operator/DirectSMCOperator.h"

#include "core/smc/SMCError.h"

#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

std::string fanKey(std::int64_t index, const char* suffix) {
    return "F" + std::to_string(index) + suffix;
}

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

std::optional<SMCKeyInfoData> DirectSMCOperator::readKeyInfoUnlocked(const std::string& key) {
    if (!openUnlocked()) {
        return std::nullopt;
    }
    SMCKeyData_t input = zeroRecord();
    input.key = fourCharCode(key);
    input.data8 = SMCCommand::readKeyInfo;
    auto reply = transport_->call(toBytes(input));
    SMCKeyData_t output = fromBytes(reply.output);
    if (reply.kernelReturn != SMCReturn::success || output.result != 0) {
        return std::nullopt;
    }
    return output.keyInfo;
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
    if (!openUnlocked()) {
        return std::nullopt;
    }
    SMCKeyData_t input = zeroRecord();
    input.key = fourCharCode(key);
    input.keyInfo.dataSize = info->dataSize;
    input.data8 = SMCCommand::readBytes;
    auto reply = transport_->call(toBytes(input));
    SMCKeyData_t output = fromBytes(reply.output);
    if (reply.kernelReturn != SMCReturn::success || output.result != 0) {
        return std::nullopt;
    }
    std::size_t n = std::min<std::size_t>(info->dataSize, sizeof output.bytes);
    try {
        return decodeSMCNumber(std::span<const std::uint8_t>(output.bytes, n), info->dataType);
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
    SMCKeyData_t input = zeroRecord();
    input.key = fourCharCode(key);
    input.keyInfo = *info; // as the controller reported it, attributes included
    if (dataType) {
        input.keyInfo.dataType = fourCharCode(*dataType);
    }
    input.data8 = SMCCommand::writeBytes;
    std::copy_n(bytes.begin(), std::min(bytes.size(), sizeof input.bytes), input.bytes);
    auto reply = transport_->call(toBytes(input));
    return reply.kernelReturn == SMCReturn::success && fromBytes(reply.output).result == 0;
}

int DirectSMCOperator::readFanCount() {
    auto count = readNumber("FNum");
    if (!count || !std::isfinite(*count)) {
        return 0;
    }
    return static_cast<int>(std::clamp(std::trunc(*count), 0.0, 16.0));
}

bool DirectSMCOperator::setFanMode(std::int64_t index, std::int64_t mode) {
    if (!isFanIndex(index)) {
        return false;
    }
    const bool manual = mode == 1;
    bool succeeded = false;
    const std::string modeKey = fanKey(index, "Md");
    if (readKeyInfo(modeKey)) {
        const std::uint8_t byte = manual ? 1 : 0;
        succeeded = writeRaw(modeKey, std::span(&byte, 1), "ui8 ");
    }
    if (auto maskValue = readNumber("FS! "); maskValue && std::isfinite(*maskValue)) {
        auto mask = static_cast<std::uint16_t>(std::trunc(std::clamp(*maskValue, 0.0, 65535.0)));
        const auto bit = static_cast<std::uint16_t>(1u << index);
        mask = manual ? static_cast<std::uint16_t>(mask | bit)
                      : static_cast<std::uint16_t>(mask & ~bit);
        auto bytes = bigEndianBytes(mask);
        succeeded = writeRaw("FS! ", bytes, "ui16") || succeeded;
    }
    return succeeded;
}

bool DirectSMCOperator::setFanRPM(std::int64_t index, float rpm) {
    if (!isFanIndex(index) || !std::isfinite(rpm)) {
        return false;
    }
    if (!setFanMode(index, 1)) {
        return false;
    }
    const std::string targetKey = fanKey(index, "Tg");
    auto info = readKeyInfo(targetKey);
    if (!info) {
        return false;
    }
    // Decoded numbers are always finite, so an absent value is the only default case.
    double value =
        clampTargetRPM(rpm, readNumber(fanKey(index, "Mn")), readNumber(fanKey(index, "Mx")));
    return writeRaw(targetKey, encodeTargetRPM(value, info->dataType), info->dataType);
}

bool DirectSMCOperator::resetAllFansToAuto() {
    const int n = readFanCount();
    bool anySucceeded = false;
    for (int i = 0; i < std::max(n, 1); ++i) {
        anySucceeded = setFanMode(i, 0) || anySucceeded;
    }
    const bool hasMask = readKeyInfo("FS! ").has_value();
    if (hasMask) {
        const std::array<std::uint8_t, 2> zero{0, 0};
        anySucceeded = writeRaw("FS! ", zero, "ui16") || anySucceeded;
    }
    if (n != 0 || anySucceeded) {
        return anySucceeded;
    }
    return !readKeyInfo("F0Md") && !hasMask;
}

} // namespace ventoral
