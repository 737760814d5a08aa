#include "core/smc/SMCProtocol.h"

#include "core/smc/SMCError.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(FourCharCode, FoldsAndUnfolds) {
    EXPECT_EQ(fourCharCode("FNum"), 0x464E756Du);
    EXPECT_EQ(fourCharCode("FS! "), 0x46532120u);
    EXPECT_EQ(fourCharCode(""), 0u);
    EXPECT_EQ(fourCharCode("ab"), 0x6162u);
    EXPECT_EQ(fourCharCode("F10Ac"), fourCharCode("F10A"));
    EXPECT_EQ(stringFromFourCharCode(0x666C7420u), "flt ");
    EXPECT_EQ(stringFromFourCharCode(0x00416200u), std::string("\0Ab\0", 4));
    EXPECT_EQ(stringFromFourCharCode(0x41E94242u), "A\u00E9BB");
}

TEST(SMCKeyData, ZeroRecordRoundTripsThroughBytes) {
    SMCKeyData_t record = zeroRecord();
    record.key = fourCharCode("F0Tg");
    record.keyInfo.dataSize = 4;
    record.data8 = SMCCommand::writeBytes;
    record.bytes[31] = 0xAB;
    auto bytes = toBytes(record);
    EXPECT_EQ(bytes[0], 0x67); // 'g', least significant byte first
    EXPECT_EQ(bytes[28], 4);
    EXPECT_EQ(bytes[42], 6);
    EXPECT_EQ(bytes[79], 0xAB);
    EXPECT_EQ(toBytes(fromBytes(bytes)), bytes);
}

TEST(DecodeSMCNumber, ByType) {
    struct Case {
        const char* type;
        Bytes bytes;
        double expected;
    };
    const Case cases[] = {
        {"fpe2", {0x1F, 0x40}, 2000.0},
        {"sp78", {0xFF, 0x80}, -0.5},
        {"flt ", {0x00, 0x00, 0x7A, 0x44}, 1000.0},
        {"ui32", {0x00, 0x00, 0x7A, 0x44}, 31300},
        {"ui8 ", {0xC8}, 200},
        {"si8 ", {0xC8}, -56},
        {"ui16", {0x01, 0x02}, 258},
        {"si16", {0xFF, 0xFE}, -2},
        {"abcd", {0x07}, 7},
        {"abcd", {0x01, 0x02}, 258},
        {"abcd", {0x00, 0x00, 0x7A, 0x44}, 1000.0},
        {"ui8 ", {0x05, 0x06, 0x07}, 5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeSMCNumber(c.bytes, c.type), c.expected) << c.type;
    }
}

TEST(DecodeSMCNumber, FailuresCarryTheType) {
    const auto nanBytes = littleEndianBytes(std::numeric_limits<float>::quiet_NaN());
    const std::pair<const char*, Bytes> cases[] = {
        {"flt ", Bytes(nanBytes.begin(), nanBytes.end())},
        {"abcd", {1, 2, 3}},
        {"fpe2", {1}},
        {"ui32", {1, 2}},
        {"flt ", {}},
        {"abcd", {}},
    };
    for (const auto& [type, bytes] : cases) {
        try {
            decodeSMCNumber(bytes, type);
            ADD_FAILURE() << type << " decoded";
        } catch (const SMCError& error) {
            EXPECT_EQ(error.kind(), SMCError::Kind::unsupportedType);
            EXPECT_EQ(std::string(error.what()), std::string("Unsupported SMC data type: ") + type);
        }
    }
}

TEST(DecodeSMCPowerScalar, OnlyTheThreeScalarTypes) {
    const auto nanBytes = littleEndianBytes(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(decodeSMCPowerScalar(Bytes{0x00, 0x00, 0x7A, 0x44}, "flt "), 1000.0);
    EXPECT_EQ(decodeSMCPowerScalar(Bytes{0x1F, 0x40}, "fpe2"), 2000.0);
    EXPECT_EQ(decodeSMCPowerScalar(Bytes{0xFF, 0x80}, "sp78"), -0.5);
    EXPECT_FALSE(decodeSMCPowerScalar(Bytes(nanBytes.begin(), nanBytes.end()), "flt "));
    EXPECT_FALSE(decodeSMCPowerScalar(Bytes{0x01, 0x02}, "ui16"));
    EXPECT_FALSE(decodeSMCPowerScalar(Bytes{0x01}, "fpe2"));
}

TEST(SMCError, Descriptions) {
    EXPECT_STREQ(SMCError::callFailed(SMCReturn::notPrivileged, 0).what(),
                 "SMC call failed (kr: -536870207, result: 0)");
    EXPECT_STREQ(SMCError::callFailed(0, 132).what(), "SMC call failed (kr: 0, result: 132)");
    EXPECT_STREQ(SMCError::keyNotFound("F3Md").what(), "SMC key not found: F3Md");
    EXPECT_STREQ(SMCError::writeFailed("XPC write failed").what(),
                 "Failed to write SMC key: XPC write failed");
    EXPECT_STREQ(SMCError::privilegedRequired().what(),
                 "Root privileges required to modify SMC fan registers");
}

} // namespace
} // namespace ventoral
