#include "platform/smc/EmulatedSmcTransport.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace ventoral {
namespace {

std::size_t defaultSize(const std::string& type) {
    if (type == "ui8 " || type == "si8 " || type == "flag") {
        return 1;
    }
    if (type == "fpe2" || type == "sp78" || type == "ui16" || type == "si16") {
        return 2;
    }
    return 4;
}

std::vector<std::uint8_t> hexBytes(const std::string& text, const std::string& context) {
    if (text.size() % 2 != 0) {
        throw DecodingError(context + ": bytes must be pairs of hex digits");
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        std::istringstream in(text.substr(i, 2));
        if (!(in >> std::hex >> value) || !std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
            throw DecodingError(context + ": \"" + text + "\" is not hex");
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

} // namespace

EmulatedSmcTransport::EmulatedSmcTransport(std::map<std::string, Key> keys, bool callerIsRoot)
    : keys_(std::move(keys)), callerIsRoot_(callerIsRoot) {}

std::vector<std::uint8_t> EmulatedSmcTransport::encodeNumber(double value, const std::string& type,
                                                             std::size_t size) {
    std::vector<std::uint8_t> bytes(size, 0);
    auto bigEndian = [&](std::uint64_t raw) {
        for (std::size_t i = 0; i < size; ++i) {
            bytes[size - 1 - i] = static_cast<std::uint8_t>(raw >> (8 * i));
        }
    };
    if (type == "flt ") {
        if (size != 4) {
            throw DecodingError("type \"flt \" needs 4 bytes");
        }
        auto le = littleEndianBytes(static_cast<float>(value));
        std::copy(le.begin(), le.end(), bytes.begin());
    } else if (type == "fpe2") {
        bigEndian(static_cast<std::uint64_t>(std::llround(value * 4)));
    } else if (type == "sp78") {
        bigEndian(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(value * 256))));
    } else if (type == "ui8 " || type == "ui16" || type == "ui32" || type == "si8 " ||
               type == "si16" || type == "flag") {
        bigEndian(static_cast<std::uint64_t>(std::llround(value)));
    } else {
        throw DecodingError("type \"" + type + "\" cannot hold a number; give \"bytes\"");
    }
    return bytes;
}

std::unique_ptr<EmulatedSmcTransport> EmulatedSmcTransport::fromProfile(const Json& profile,
                                                                        bool callerIsRoot) {
    const Json& list = json::requireMember(profile, "keys", "SMC profile");
    if (!list.is_array()) {
        throw DecodingError("SMC profile.keys: expected an array");
    }
    std::map<std::string, Key> keys;
    for (const auto& entry : list) {
        std::string name = json::decodeString(json::requireMember(entry, "key", "SMC profile key"),
                                              "SMC profile key.key");
        const std::string ctx = "SMC profile key \"" + name + "\"";
        std::string type =
            json::decodeString(json::requireMember(entry, "type", ctx), ctx + ".type");
        if (name.size() != 4 || type.size() != 4) {
            throw DecodingError(ctx + ": key and type must be four characters");
        }
        std::size_t size = defaultSize(type);
        if (auto it = entry.find("size"); it != entry.end()) {
            auto n = json::decodeInt64(*it, ctx + ".size");
            if (n < 0 || n > 255) {
                throw DecodingError(ctx + ".size: out of range");
            }
            size = static_cast<std::size_t>(n);
        }
        Key key;
        key.type = type;
        if (auto it = entry.find("bytes"); it != entry.end()) {
            key.bytes = hexBytes(json::decodeString(*it, ctx + ".bytes"), ctx + ".bytes");
            key.bytes.resize(std::max(size, key.bytes.size()), 0);
        } else {
            key.bytes = encodeNumber(
                json::decodeDouble(json::requireMember(entry, "value", ctx), ctx + ".value"), type,
                size);
        }
        if (auto it = entry.find("writable"); it != entry.end()) {
            key.writable = json::decodeBool(*it, ctx + ".writable");
        }
        if (auto it = entry.find("rootOnly"); it != entry.end()) {
            key.rootOnly = json::decodeBool(*it, ctx + ".rootOnly");
        }
        keys[name] = std::move(key);
    }
    return std::make_unique<EmulatedSmcTransport>(std::move(keys), callerIsRoot);
}

std::unique_ptr<EmulatedSmcTransport> EmulatedSmcTransport::fromProfileFile(const std::string& path,
                                                                            bool callerIsRoot) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw DecodingError("cannot read SMC profile " + path);
    }
    std::stringstream text;
    text << file.rdbuf();
    return fromProfile(json::parse(text.str()), callerIsRoot);
}

bool EmulatedSmcTransport::open() {
    std::lock_guard guard(mutex_);
    open_ = openable_;
    return open_;
}

void EmulatedSmcTransport::close() {
    std::lock_guard guard(mutex_);
    open_ = false;
}

bool EmulatedSmcTransport::isOpen() const {
    std::lock_guard guard(mutex_);
    return open_;
}

SmcTransport::Reply EmulatedSmcTransport::call(const SMCRecordBytes& inputBytes) {
    std::lock_guard guard(mutex_);
    SMCKeyData_t input = fromBytes(inputBytes);
    const std::string name = stringFromFourCharCode(input.key);
    ++calls_;
    ++callsPerKey_[name];
    lastInput_ = input;

    SMCKeyData_t output = zeroRecord();
    output.key = input.key;
    if (!open_) {
        return {SMCReturn::notOpen, toBytes(output)};
    }
    if (failuresLeft_ > 0) {
        --failuresLeft_;
        return {failure_, toBytes(output)};
    }
    auto it = keys_.find(name);
    if (it == keys_.end() || refused_.contains(name)) {
        output.result = keyNotFoundResult;
        return {SMCReturn::success, toBytes(output)};
    }
    Key& key = it->second;
    switch (input.data8) {
    case SMCCommand::readKeyInfo:
        output.keyInfo.dataSize = static_cast<std::uint32_t>(key.bytes.size());
        output.keyInfo.dataType = fourCharCode(key.type);
        output.keyInfo.dataAttributes = key.attributes;
        break;
    case SMCCommand::readBytes:
        output.keyInfo = input.keyInfo;
        std::copy_n(key.bytes.begin(), std::min(key.bytes.size(), sizeof output.bytes),
                    output.bytes);
        break;
    case SMCCommand::writeBytes:
        if (key.rootOnly && !callerIsRoot_) {
            return {SMCReturn::notPrivileged, toBytes(output)};
        }
        if (!key.writable || input.keyInfo.dataSize != key.bytes.size()) {
            output.result = notWritableResult;
            break;
        }
        std::copy_n(input.bytes, std::min(key.bytes.size(), sizeof input.bytes), key.bytes.begin());
        break;
    default:
        output.result = 0x82;
        break;
    }
    return {SMCReturn::success, toBytes(output)};
}

void EmulatedSmcTransport::setKey(const std::string& name, Key key) {
    std::lock_guard guard(mutex_);
    keys_[name] = std::move(key);
}

void EmulatedSmcTransport::removeKey(const std::string& name) {
    std::lock_guard guard(mutex_);
    keys_.erase(name);
}

std::optional<EmulatedSmcTransport::Key> EmulatedSmcTransport::key(const std::string& name) const {
    std::lock_guard guard(mutex_);
    auto it = keys_.find(name);
    if (it == keys_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void EmulatedSmcTransport::refuseKey(const std::string& name) {
    std::lock_guard guard(mutex_);
    refused_.insert(name);
}

void EmulatedSmcTransport::failCallsWith(std::int32_t kernelReturn, int count) {
    std::lock_guard guard(mutex_);
    failure_ = kernelReturn;
    failuresLeft_ = count;
}

void EmulatedSmcTransport::setOpenable(bool openable) {
    std::lock_guard guard(mutex_);
    openable_ = openable;
    if (!openable) {
        open_ = false;
    }
}

int EmulatedSmcTransport::callCount() const {
    std::lock_guard guard(mutex_);
    return calls_;
}

int EmulatedSmcTransport::callCount(const std::string& name) const {
    std::lock_guard guard(mutex_);
    auto it = callsPerKey_.find(name);
    return it == callsPerKey_.end() ? 0 : it->second;
}

std::optional<SMCKeyData_t> EmulatedSmcTransport::lastInput() const {
    std::lock_guard guard(mutex_);
    return lastInput_;
}

} // namespace ventoral
