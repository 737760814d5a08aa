#include "core/smc/SMCProtocol.h"

#include "core/smc/SMCError.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace ventoral {
namespace {

std::uint16_t bigEndian16(std::span<const std::uint8_t> b) {
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint32_t bigEndian32(std::span<const std::uint8_t> b) {
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
           std::uint32_t{b[3]};
}

std::optional<double> finiteFloat(std::span<const std::uint8_t> bytes) {
    float value = littleEndianFloat(bytes);
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::uint32_t fourCharCode(std::string_view text) {
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < text.size() && i < 4; ++i) {
        code = (code << 8) | static_cast<std::uint8_t>(text[i]);
    }
    return code;
}

std::string stringFromFourCharCode(std::uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto byte = static_cast<std::uint8_t>(code >> shift);
        if (byte < 0x80) {
            text.push_back(static_cast<char>(byte));
        } else {
            text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

double clampTargetRPM(float rpm, std::optional<double> minimum, std::optional<double> maximum) {
    double lo = std::max(minimum.value_or(1200.0), 0.0);
    double upper = std::max(maximum.value_or(6800.0), lo + 100);
    return std::clamp(static_cast<double>(rpm), lo, upper);
}

std::array<std::uint8_t, 2> bigEndianBytes(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

std::vector<std::uint8_t> encodeTargetRPM(double value, const std::string& dataType) {
    if (dataType == "flt ") {
        auto le = littleEndianBytes(static_cast<float>(value));
        return {le.begin(), le.end()};
    }
    double scaled = std::min(dataType == "fpe2" ? value * 4 : value, 65535.0);
    auto be = bigEndianBytes(static_cast<std::uint16_t>(std::max(std::round(scaled), 0.0)));
    return {be.begin(), be.end()};
}

float littleEndianFloat(std::span<const std::uint8_t> bytes) {
    std::uint32_t bits = std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
                         (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
    return std::bit_cast<float>(bits);
}

std::array<std::uint8_t, 4> littleEndianBytes(float value) {
    auto bits = std::bit_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

SMCKeyData_t keyInfoRequest(std::string_view key) {
    SMCKeyData_t input = zeroRecord();
    input.key = fourCharCode(key);
    input.data8 = SMCCommand::readKeyInfo;
    return input;
}

SMCKeyData_t readBytesRequest(std::string_view key, std::uint32_t dataSize) {
    SMCKeyData_t input = zeroRecord();
    input.key = fourCharCode(key);
    input.keyInfo.dataSize = dataSize;
    input.data8 = SMCCommand::readBytes;
    return input;
}

SMCKeyData_t writeBytesRequest(std::string_view key, const SMCKeyInfoData& info,
                               std::span<const std::uint8_t> bytes) {
    SMCKeyData_t input = zeroRecord();
    input.key = fourCharCode(key);
    input.keyInfo = info;
    input.data8 = SMCCommand::writeBytes;
    std::copy_n(bytes.begin(), std::min(bytes.size(), sizeof input.bytes), input.bytes);
    return input;
}

std::vector<std::uint8_t> replyBytes(const SMCKeyData_t& reply, std::uint32_t dataSize) {
    const std::size_t n = std::min<std::size_t>(dataSize, sizeof reply.bytes);
    return {reply.bytes, reply.bytes + n};
}

double decodeSMCNumber(std::span<const std::uint8_t> bytes, const std::string& type) {
    static constexpr std::string_view knownTypes[] = {"flt ", "fpe2", "sp78", "ui8 ",
                                                      "si8 ", "ui16", "si16", "ui32"};
    const std::size_t n = bytes.size();
    std::string_view effective = type;
    if (std::find(std::begin(knownTypes), std::end(knownTypes), effective) ==
        std::end(knownTypes)) {
        // Types outside the table are read by their size alone.
        effective = n == 4 ? "flt " : n == 2 ? "ui16" : n == 1 ? "ui8 " : "";
    }
    std::optional<double> value;
    if (effective == "flt " && n >= 4) {
        value = finiteFloat(bytes);
    } else if (effective == "fpe2" && n >= 2) {
        value = bigEndian16(bytes) / 4.0;
    } else if (effective == "sp78" && n >= 2) {
        value = static_cast<std::int16_t>(bigEndian16(bytes)) / 256.0;
    } else if (effective == "ui8 " && n >= 1) {
        value = bytes[0];
    } else if (effective == "si8 " && n >= 1) {
        value = static_cast<std::int8_t>(bytes[0]);
    } else if (effective == "ui16" && n >= 2) {
        value = bigEndian16(bytes);
    } else if (effective == "si16" && n >= 2) {
        value = static_cast<std::int16_t>(bigEndian16(bytes));
    } else if (effective == "ui32" && n >= 4) {
        value = bigEndian32(bytes);
    }
    if (!value) {
        throw SMCError::unsupportedType(type);
    }
    return *value;
}

std::optional<double> decodeSMCPowerScalar(std::span<const std::uint8_t> bytes,
                                           const std::string& type) {
    if (type == "flt " && bytes.size() >= 4) {
        return finiteFloat(bytes);
    }
    if (type == "fpe2" && bytes.size() >= 2) {
        return bigEndian16(bytes) / 4.0;
    }
    if (type == "sp78" && bytes.size() >= 2) {
        return static_cast<std::int16_t>(bigEndian16(bytes)) / 256.0;
    }
    return std::nullopt;
}

} // namespace ventoral

namespace ventoral {

FanCalibrationOutcome SmcTransport::calibrateFan(std::int64_t index, const FanCalibrationControl&) {
    return {false, noCalibrationNeeded(index)};
}

} // namespace ventoral
