#include "core/smc/SMCService.h"

#include <algorithm>

namespace ventoral {

SMCService::SMCService(std::unique_ptr<SmcTransport> transport,
                       std::shared_ptr<ThermalChannelSource> thermalChannels, WallClock clock)
    : transport_(std::move(transport)), clock_(std::move(clock)),
      hidClient_(std::move(thermalChannels)) {
    std::lock_guard guard(lock_);
    transport_->open();
}

SMCService::~SMCService() {
    close();
}

bool SMCService::open() {
    std::lock_guard guard(lock_);
    return transport_->isOpen() || transport_->open();
}

void SMCService::close() {
    std::lock_guard guard(lock_);
    if (transport_->isOpen()) {
        transport_->close();
    }
}

SmcTransport::Reply SMCService::callUnlocked(const SMCKeyData_t& input) {
    if (!transport_->isOpen() && !transport_->open()) {
        return {SMCReturn::notOpen, {}};
    }
    return transport_->call(toBytes(input));
}

SMCKeyInfo SMCService::readKeyInfo(const std::string& key) {
    std::lock_guard guard(lock_);
    return readKeyInfoUnlocked(key);
}

SMCKeyInfo SMCService::readKeyInfoUnlocked(const std::string& key) {
    if (missingKeys_.contains(key)) {
        throw SMCError::keyNotFound(key);
    }
    if (auto it = cachedKeyInfo_.find(key); it != cachedKeyInfo_.end()) {
        return it->second;
    }
    auto reply = callUnlocked(keyInfoRequest(key));
    SMCKeyData_t output = fromBytes(reply.output);
    if (reply.kernelReturn != SMCReturn::success) {
        throw SMCError::callFailed(reply.kernelReturn, output.result);
    }
    if (output.result != 0) {
        missingKeys_.insert(key);
        throw SMCError::keyNotFound(key);
    }
    SMCKeyInfo info{output.keyInfo.dataSize, stringFromFourCharCode(output.keyInfo.dataType)};
    cachedKeyInfo_.emplace(key, info);
    return info;
}

SMCService::BytesReply SMCService::readBytesUnlocked(const std::string& key,
                                                     const SMCKeyInfo& info) {
    auto reply = callUnlocked(readBytesRequest(key, info.dataSize));
    SMCKeyData_t output = fromBytes(reply.output);
    return {reply.kernelReturn, output.result, replyBytes(output, info.dataSize)};
}

SMCRawValue SMCService::readKeyRaw(const std::string& key) {
    std::lock_guard guard(lock_);
    SMCKeyInfo info = readKeyInfoUnlocked(key);
    auto reply = readBytesUnlocked(key, info);
    if (reply.kernelReturn != SMCReturn::success) {
        throw SMCError::callFailed(reply.kernelReturn, reply.result);
    }
    if (reply.result != 0) {
        throw SMCError::keyNotFound(key);
    }
    return {std::move(reply.bytes), info.dataType};
}

double SMCService::readNumber(const std::string& key) {
    auto raw = readKeyRaw(key);
    return decodeSMCNumber(raw.bytes, raw.dataType);
}

std::optional<double> SMCService::readNumberOrNothing(const std::string& key) {
    {
        std::lock_guard guard(lock_);
        if (missingKeys_.contains(key)) {
            return std::nullopt; // probed on every tick: answer without raising
        }
    }
    try {
        double value = readNumber(key);
        return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
    } catch (const SMCError&) {
        return std::nullopt;
    }
}

SMCCachedRead SMCService::readCachedKeyRawUnlocked(const std::string& key) {
    if (missingKeys_.contains(key)) {
        return {}; // the common case on every tick: answer without raising
    }
    SMCKeyInfo info;
    try {
        // A refused key is remembered as missing; a failed call is not.
        info = readKeyInfoUnlocked(key);
    } catch (const SMCError&) {
        return {};
    }
    auto reply = readBytesUnlocked(key, info);
    if (reply.kernelReturn != SMCReturn::success || reply.result != 0) {
        return {true, {}, info.dataType};
    }
    return {true, std::move(reply.bytes), info.dataType};
}

SMCPowerScalar SMCService::decodePowerScalarUnlocked(const std::string& key) {
    auto read = readCachedKeyRawUnlocked(key);
    if (!read.acknowledged) {
        return {};
    }
    return {true, decodeSMCPowerScalar(read.bytes, read.dataType)};
}

void SMCService::writeKeyRaw(const std::string& key, std::span<const std::uint8_t> bytes,
                             std::optional<std::string> dataType) {
    std::lock_guard guard(lock_);
    const SMCKeyInfo info = readKeyInfoUnlocked(key);
    const SMCKeyInfoData sent{info.dataSize, fourCharCode(dataType.value_or(info.dataType)), 0};
    auto reply = callUnlocked(writeBytesRequest(key, sent, bytes));
    if (reply.kernelReturn == SMCReturn::notPrivileged ||
        reply.kernelReturn == SMCReturn::notPermitted) {
        throw SMCError::privilegedRequired();
    }
    SMCKeyData_t output = fromBytes(reply.output);
    if (reply.kernelReturn != SMCReturn::success || output.result != 0) {
        throw SMCError::callFailed(reply.kernelReturn, output.result);
    }
}

} // namespace ventoral
