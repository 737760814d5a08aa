#pragma once

#include "core/smc/FanLimits.h"
#include "core/smc/SMCKeyData.h"

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ventoral {

// First four UTF-8 bytes of `text`, the first in the most significant position.
std::uint32_t fourCharCode(std::string_view text);
// Four characters, most significant byte first, each byte taken as the code point of its value.
std::string stringFromFourCharCode(std::uint32_t code);

// Decodes a key's bytes by its data type; throws SMCError::unsupportedType.
double decodeSMCNumber(std::span<const std::uint8_t> bytes, const std::string& dataType);
// The power-rail decoding: only "flt ", "fpe2" and "sp78"; nothing for anything else.
std::optional<double> decodeSMCPowerScalar(std::span<const std::uint8_t> bytes,
                                           const std::string& dataType);

// A target speed for writing, clamped to the fan's bounds as read (none: unreadable or not
// finite): minimum 1200 by default and never negative; upper 6800 by default, at least
// minimum + 100.
double clampTargetRPM(float rpm, std::optional<double> minimum, std::optional<double> maximum);
// A target speed in the target key's own type: "flt " little-endian, "fpe2" ×4 and anything
// else as a rounded unsigned 16-bit value, big-endian.
std::vector<std::uint8_t> encodeTargetRPM(double value, const std::string& dataType);
std::array<std::uint8_t, 2> bigEndianBytes(std::uint16_t value);

// The controller addresses fans 0...15 (one bit each in the force mask).
constexpr bool isFanIndex(std::int64_t index) {
    return index >= 0 && index <= 15;
}

float littleEndianFloat(std::span<const std::uint8_t> bytes);

// The request records of the three commands every reader and writer sends.
SMCKeyData_t keyInfoRequest(std::string_view key);
SMCKeyData_t readBytesRequest(std::string_view key, std::uint32_t dataSize);
// `info` travels as given: a writer that read the key's whole information sends it back.
SMCKeyData_t writeBytesRequest(std::string_view key, const SMCKeyInfoData& info,
                               std::span<const std::uint8_t> bytes);
// The leading `dataSize` bytes of a reply's data, at most the record's 32.
std::vector<std::uint8_t> replyBytes(const SMCKeyData_t& reply, std::uint32_t dataSize);
std::array<std::uint8_t, 4> littleEndianBytes(float value);

// One exchange with the controller: the 80-byte record in, a return code and the record out.
class SmcTransport {
public:
    struct Reply {
        std::int32_t kernelReturn = SMCReturn::notOpen;
        SMCRecordBytes output{};
    };

    virtual ~SmcTransport() = default;
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual Reply call(const SMCRecordBytes& input) = 0;

    // The fans this program switched to manual control and has not handed back, as far as a
    // controller remembers across processes; none from one that keeps no such memory.
    virtual std::optional<std::set<std::int64_t>> fansTakenOver() { return std::nullopt; }
    // What is worth telling the user about the writes so far (a fan left at full speed because
    // its driver refused automatic control), each told once.
    virtual std::vector<std::string> takeNotices() { return {}; }
    // The fans the machine has that this controller cannot list, each with why.
    virtual std::vector<std::string> unlistedFans() { return {}; }
    // Each listed fan's own name and limits; empty from a controller whose keys say it all.
    virtual std::vector<FanLimitsInfo> fanLimits() { return {}; }
    // Whether the fans' limits changed since the last call (a calibration was stored).
    virtual bool fanLimitsChanged() { return false; }
    // Measures a fan's limits and keeps them; blocks until done, failed or cancelled.
    virtual FanCalibrationOutcome calibrateFan(std::int64_t index,
                                               const FanCalibrationControl& control);
};

} // namespace ventoral
