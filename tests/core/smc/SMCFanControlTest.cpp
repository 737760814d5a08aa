#include "core/smc/SMCFanControl.h"

#include "core/smc/SMCProtocol.h"

#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <set>
#include <vector>

namespace ventoral {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A controller as a key table: each key's type, a number to read, and which writes it refuses.
class TableAccess final : public SMCKeyAccess {
public:
    std::map<std::string, std::string> types;
    std::map<std::string, double> numbers;
    std::map<std::string, SMCError> refusals;
    std::vector<std::pair<std::string, Bytes>> writes;

    SMCKeyLookup lookUpKey(const std::string& key) override {
        if (auto it = types.find(key); it != types.end()) {
            return {it->second, std::nullopt};
        }
        return {std::nullopt, SMCError::keyNotFound(key)};
    }
    std::optional<double> readFiniteNumber(const std::string& key) override {
        if (auto it = numbers.find(key); it != numbers.end()) {
            return it->second;
        }
        return std::nullopt;
    }
    std::optional<SMCError> writeKey(const std::string& key, std::span<const std::uint8_t> bytes,
                                     const std::string&) override {
        if (auto it = refusals.find(key); it != refusals.end()) {
            return it->second;
        }
        writes.emplace_back(key, Bytes(bytes.begin(), bytes.end()));
        return std::nullopt;
    }
    std::vector<std::string> writtenKeys() const {
        std::vector<std::string> keys;
        for (const auto& [key, bytes] : writes) {
            keys.push_back(key);
        }
        return keys;
    }
};

TEST(SMCFanControl, CountAndMaskArithmetic) {
    EXPECT_EQ(fanCountFrom(std::nullopt), 0);
    EXPECT_EQ(fanCountFrom(2.9), 2);
    EXPECT_EQ(fanCountFrom(-4), 0);
    EXPECT_EQ(fanCountFrom(1e300), 16);
    EXPECT_EQ(fanCountFrom(std::numeric_limits<double>::quiet_NaN()), 0);

    EXPECT_EQ(forceMaskWith(0, 3, true), 0b1000);
    EXPECT_EQ(forceMaskWith(0b1010, 1, false), 0b1000);
    EXPECT_EQ(forceMaskWith(0b1010, 0, false), 0b1010);
    EXPECT_EQ(forceMaskWith(1e9, 15, false), 0x7FFF); // a wild mask reads as all set
    EXPECT_EQ(forceMaskWith(-7, 15, true), 0x8000);
}

TEST(SMCFanControl, ModeWriteSucceedsThroughEitherKeyAndReportsTheRightError) {
    const SMCError refused = SMCError::privilegedRequired();
    const SMCError failed = SMCError::callFailed(1, 2);
    struct Case {
        const char* name;
        bool hasModeKey;
        bool hasMask;
        std::optional<SMCError> modeRefusal;
        std::optional<SMCError> maskRefusal;
        std::optional<SMCError> expected;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {"both keys", true, true, {}, {}, {}, {"F1Md", "FS! "}},
        {"mode key only", true, false, {}, {}, {}, {"F1Md"}},
        {"mask only", false, true, {}, {}, {}, {"FS! "}},
        {"mode refused, mask taken", true, true, refused, {}, {}, {"FS! "}},
        {"mask refused, mode taken", true, true, {}, failed, {}, {"F1Md"}},
        {"both refused: the mask's error", true, true, refused, failed, failed, {}},
        {"mode refused, no mask", true, false, refused, {}, refused, {}},
        {"neither key", false, false, {}, {}, SMCError::keyNotFound("F1Md"), {}},
    };
    for (const auto& c : cases) {
        TableAccess smc;
        if (c.hasModeKey) {
            smc.types["F1Md"] = "ui8 ";
        }
        if (c.hasMask) {
            smc.types["FS! "] = "ui16";
            smc.numbers["FS! "] = 0b100;
        }
        if (c.modeRefusal) {
            smc.refusals.emplace("F1Md", *c.modeRefusal);
        }
        if (c.maskRefusal) {
            smc.refusals.emplace("FS! ", *c.maskRefusal);
        }
        EXPECT_EQ(writeFanModeKeys(smc, 1, true), c.expected) << c.name;
        EXPECT_EQ(smc.writtenKeys(), c.written) << c.name;
    }

    TableAccess smc;
    smc.types = {{"F1Md", "ui8 "}, {"FS! ", "ui16"}};
    smc.numbers["FS! "] = 0b110;
    ASSERT_EQ(writeFanModeKeys(smc, 1, false), std::nullopt);
    EXPECT_EQ(smc.writes[0].second, Bytes{0});
    EXPECT_EQ(smc.writes[1].second, (Bytes{0x00, 0b100}));
    EXPECT_EQ(writeFanModeKeys(smc, 16, true), SMCError::keyNotFound("F16Md"));
}

TEST(SMCFanControl, TargetIsClampedAndEncodedInTheKeysType) {
    struct Case {
        const char* type;
        std::optional<double> min, max;
        float rpm;
        Bytes expected;
    };
    const Case cases[] = {
        {"fpe2", 1000, 5000, 9000, {0x4E, 0x20}},                // 5000 × 4
        {"ui16", std::nullopt, std::nullopt, 100, {0x04, 0xB0}}, // default minimum 1200
        {"flt ", 2000, 1000, 5000, {0x00, 0x40, 0x03, 0x45}},    // 2100: maximum at least min + 100
    };
    for (const auto& c : cases) {
        TableAccess smc;
        smc.types["F0Tg"] = c.type;
        if (c.min) {
            smc.numbers["F0Mn"] = *c.min;
        }
        if (c.max) {
            smc.numbers["F0Mx"] = *c.max;
        }
        ASSERT_EQ(writeFanTargetKey(smc, 0, c.rpm), std::nullopt) << c.type;
        ASSERT_EQ(smc.writes.size(), 1u) << c.type;
        EXPECT_EQ(smc.writes[0].second, c.expected) << c.type;
    }
    TableAccess empty;
    EXPECT_EQ(writeFanTargetKey(empty, 0, 2000), SMCError::keyNotFound("F0Tg"));
    EXPECT_EQ(writeFanTargetKey(empty, 0, std::numeric_limits<float>::infinity()),
              SMCError::writeFailed("F0Tg"));
    EXPECT_EQ(writeFanTargetKey(empty, -1, 2000), SMCError::keyNotFound("F-1Tg"));
}

TEST(SMCFanControl, ResetTriesEveryFanThenClearsTheMask) {
    TableAccess masked;
    masked.types = {{"F0Md", "ui8 "}, {"F1Md", "ui8 "}, {"FS! ", "ui16"}};
    masked.numbers["FS! "] = 0b11;
    masked.refusals.emplace("F1Md", SMCError::privilegedRequired());
    FanResetOutcome outcome = resetFanKeys(masked, 2);
    EXPECT_TRUE(outcome.anyFanReset);
    EXPECT_EQ(outcome.lastFanError, std::nullopt); // fan 1 went back through the mask
    EXPECT_TRUE(outcome.hasMask && outcome.maskCleared);
    EXPECT_EQ(masked.writtenKeys(), (std::vector<std::string>{"F0Md", "FS! ", "FS! ", "FS! "}));
    EXPECT_EQ(masked.writes.back().second, (Bytes{0, 0}));

    TableAccess unmasked;
    unmasked.types = {{"F0Md", "ui8 "}, {"F1Md", "ui8 "}};
    unmasked.refusals.emplace("F0Md", SMCError::privilegedRequired());
    outcome = resetFanKeys(unmasked, 3);
    EXPECT_TRUE(outcome.anyFanReset);
    EXPECT_EQ(outcome.lastFanError, SMCError::keyNotFound("F2Md"));
    EXPECT_FALSE(outcome.hasMask || outcome.maskCleared);
    EXPECT_EQ(unmasked.writtenKeys(), (std::vector<std::string>{"F1Md"}));
}

} // namespace
} // namespace ventoral
