#include "helper/operator/DirectSMCOperator.h"

#include "platform/smc/EmulatedSmcTransport.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

using Key = EmulatedSmcTransport::Key;
using Bytes = std::vector<std::uint8_t>;

Key number(const std::string& type, double value, bool writable = true) {
    std::size_t size = type == "flt " ? 4 : type == "ui8 " ? 1 : 2;
    return {type, EmulatedSmcTransport::encodeNumber(value, type, size), writable, true, 0};
}

struct Helper {
    EmulatedSmcTransport* smc;
    std::unique_ptr<DirectSMCOperator> op;
    explicit Helper(std::map<std::string, Key> keys, bool root = true) {
        auto transport = std::make_unique<EmulatedSmcTransport>(std::move(keys), root);
        smc = transport.get();
        op = std::make_unique<DirectSMCOperator>(std::move(transport));
    }
};

TEST(DirectSMCOperator, SpeedWriteSwitchesToManualThroughTheMaskAlone) {
    Helper h({{"FS! ", number("ui16", 0)},
              {"F0Tg", number("flt ", 0)},
              {"F0Mn", number("flt ", 1200, false)},
              {"F0Mx", number("flt ", 5800, false)}});
    EXPECT_TRUE(h.op->setFanRPM(0, 9000));
    EXPECT_EQ(h.smc->key("FS! ")->bytes, (Bytes{0x00, 0x01}));
    EXPECT_EQ(littleEndianFloat(h.smc->key("F0Tg")->bytes), 5800.0f);
}

TEST(DirectSMCOperator, MissingTargetFailsAfterTheSwitchToManual) {
    Helper h({{"F0Md", number("ui8 ", 0)}});
    EXPECT_FALSE(h.op->setFanRPM(0, 3000));
    EXPECT_EQ(h.smc->key("F0Md")->bytes, (Bytes{1}));
}

TEST(DirectSMCOperator, ArgumentsAreCheckedBeforeAnyExchange) {
    Helper h({{"F0Md", number("ui8 ", 0)}, {"F0Tg", number("flt ", 0)}});
    const int before = h.smc->callCount();
    EXPECT_FALSE(h.op->setFanRPM(16, 3000));
    EXPECT_FALSE(h.op->setFanRPM(-1, 3000));
    EXPECT_FALSE(h.op->setFanRPM(0, std::numeric_limits<float>::quiet_NaN()));
    EXPECT_FALSE(h.op->setFanRPM(0, std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(h.op->setFanMode(16, 1));
    EXPECT_EQ(h.smc->callCount(), before);
}

TEST(DirectSMCOperator, ModeTwoMeansAutomatic) {
    Helper h({{"F1Md", number("ui8 ", 1)}, {"FS! ", number("ui16", 2)}});
    EXPECT_TRUE(h.op->setFanMode(1, 2));
    EXPECT_EQ(h.smc->key("F1Md")->bytes, (Bytes{0}));
    EXPECT_EQ(h.smc->key("FS! ")->bytes, (Bytes{0x00, 0x00}));
}

TEST(DirectSMCOperator, NoCachesAndTheWholeKeyInfoGoesBack) {
    Key target = number("fpe2", 0);
    target.attributes = 0xD4;
    Helper h({{"F0Md", number("ui8 ", 0)}, {"F0Tg", target}});
    EXPECT_TRUE(h.op->setFanRPM(0, 2000));
    auto sent = *h.smc->lastInput();
    EXPECT_EQ(sent.keyInfo.dataAttributes, 0xD4);
    EXPECT_EQ(sent.keyInfo.dataSize, 2u);
    EXPECT_EQ(h.smc->key("F0Tg")->bytes, (Bytes{0x1F, 0x40}));
    int lookups = h.smc->callCount("F0Tg");
    EXPECT_TRUE(h.op->setFanRPM(0, 2000));
    EXPECT_EQ(h.smc->callCount("F0Tg"), 2 * lookups); // asked again every time
}

TEST(DirectSMCOperator, ResetRules) {
    struct Case {
        const char* label;
        std::map<std::string, Key> keys;
        bool expected;
    };
    std::vector<Case> cases;
    cases.push_back({"no fan keys at all", {}, true});
    cases.push_back({"FNum 0, unwritable F0Md",
                     {{"FNum", number("ui8 ", 0)}, {"F0Md", number("ui8 ", 1, false)}},
                     false});
    cases.push_back({"mask only", {{"FS! ", number("ui16", 3)}}, true});
    cases.push_back(
        {"two fans",
         {{"FNum", number("ui8 ", 2)}, {"F0Md", number("ui8 ", 1)}, {"F1Md", number("ui8 ", 1)}},
         true});
    cases.push_back({"counted fans, nothing writable", {{"FNum", number("ui8 ", 1)}}, false});
    for (auto& c : cases) {
        Helper h(c.keys);
        EXPECT_EQ(h.op->resetAllFansToAuto(), c.expected) << c.label;
    }
    Helper h({{"FNum", number("ui8 ", 2)},
              {"F0Md", number("ui8 ", 1)},
              {"F1Md", number("ui8 ", 1)},
              {"FS! ", number("ui16", 3)}});
    h.op->resetAllFansToAuto();
    EXPECT_EQ(h.smc->key("F0Md")->bytes, (Bytes{0}));
    EXPECT_EQ(h.smc->key("F1Md")->bytes, (Bytes{0}));
    EXPECT_EQ(h.smc->key("FS! ")->bytes, (Bytes{0, 0}));
}

TEST(DirectSMCOperator, RefusedWritesAreFailuresAndCountsAreClamped) {
    Helper user(
        {{"F0Md", number("ui8 ", 0)}, {"F0Tg", number("flt ", 0)}, {"FNum", number("ui8 ", 40)}},
        false);
    EXPECT_FALSE(user.op->setFanMode(0, 1));
    EXPECT_EQ(user.op->readFanCount(), 16);
    Helper closed({});
    closed.smc->setOpenable(false);
    closed.op.reset(new DirectSMCOperator(std::make_unique<EmulatedSmcTransport>()));
    EXPECT_EQ(closed.op->readFanCount(), 0);
}

} // namespace
} // namespace ventoral
