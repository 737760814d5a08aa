#include "core/smc/SMCService.h"

#include "tests/platform/smc/SMCTestMachine.h"

#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace ventoral {
namespace {

using namespace testing;

TEST(SMCServiceKeys, RefusedKeyIsRememberedWithoutAnotherCall) {
    Machine m({});
    EXPECT_THROW(m->readKeyInfo("F9Ac"), SMCError);
    int calls = m.smc->callCount();
    try {
        m->readNumber("F9Ac");
        FAIL();
    } catch (const SMCError& error) {
        EXPECT_EQ(error, SMCError::keyNotFound("F9Ac"));
    }
    EXPECT_EQ(m.smc->callCount(), calls);
    EXPECT_FALSE(m->readCachedKeyRawUnlocked("F9Ac").acknowledged);
    EXPECT_EQ(m.smc->callCount(), calls);
}

TEST(SMCServiceKeys, KeyInfoIsCachedAndFailedCallsAreNot) {
    Machine m({{"PSTR", number("flt ", 10)}});
    m.smc->failCallsWith(SMCReturn::notPermitted, 1);
    try {
        m->readKeyInfo("PSTR");
        FAIL();
    } catch (const SMCError& error) {
        EXPECT_EQ(error.kind(), SMCError::Kind::callFailed);
        EXPECT_EQ(error.kernelReturn(), SMCReturn::notPermitted);
    }
    EXPECT_EQ(m->readKeyInfo("PSTR"), (SMCKeyInfo{4, "flt "}));
    int calls = m.smc->callCount();
    EXPECT_EQ(m->readNumber("PSTR"), 10.0);
    EXPECT_EQ(m.smc->callCount(), calls + 1); // only the read, no second look-up
}

TEST(SMCServiceKeys, ClosedConnectionReportsNotOpenUntilItOpens) {
    Machine m({{"FNum", number("ui8 ", 1)}});
    m->close();
    m.smc->setOpenable(false);
    try {
        m->readNumber("FNum");
        FAIL();
    } catch (const SMCError& error) {
        EXPECT_EQ(error, SMCError::callFailed(SMCReturn::notOpen, 0));
    }
    m.smc->setOpenable(true);
    EXPECT_EQ(m->readNumber("FNum"), 1.0); // reopened on demand
}

TEST(SMCServiceKeys, WritesUseTheKeysOwnSize) {
    Machine m({{"TEST", raw("abcd", {9, 9, 9, 9}, true)}});
    const Bytes three{1, 2, 3};
    m->writeKeyRaw("TEST", three);
    auto sent = *m.smc->lastInput();
    EXPECT_EQ(sent.keyInfo.dataSize, 4u);
    EXPECT_EQ(sent.keyInfo.dataType, fourCharCode("abcd"));
    EXPECT_EQ(sent.data8, SMCCommand::writeBytes);
    EXPECT_EQ(m.smc->key("TEST")->bytes, (Bytes{1, 2, 3, 0}));
}

TEST(SMCServiceKeys, WriteErrors) {
    Machine user({{"F0Md", number("ui8 ", 0, true)}, {"F0Ac", number("flt ", 0)}}, false);
    const Bytes one{1};
    try {
        user->writeKeyRaw("F0Md", one);
        FAIL();
    } catch (const SMCError& error) {
        EXPECT_STREQ(error.what(), "Root privileges required to modify SMC fan registers");
    }
    Machine root({{"F0Ac", number("flt ", 0)}});
    try {
        root->writeKeyRaw("F0Ac", one);
        FAIL();
    } catch (const SMCError& error) {
        EXPECT_EQ(error, SMCError::callFailed(0, EmulatedSmcTransport::notWritableResult));
    }
    root.smc->failCallsWith(SMCReturn::notPermitted);
    try {
        root->writeKeyRaw("F0Ac", one); // the key's information is cached; the write is refused
        FAIL();
    } catch (const SMCError& error) {
        EXPECT_EQ(error.kind(), SMCError::Kind::privilegedRequired);
    }
}

TEST(SMCServiceKeys, PowerScalarAcknowledgesUndecodableKeys) {
    const auto nanBytes = littleEndianBytes(std::numeric_limits<float>::quiet_NaN());
    Machine m({{"PSTR", raw("flt ", Bytes(nanBytes.begin(), nanBytes.end()))},
               {"PDTR", raw("ui16", {1, 2})}});
    std::lock_guard guard(m->lock());
    EXPECT_EQ(m->decodePowerScalarUnlocked("PSTR"), (SMCPowerScalar{true, std::nullopt}));
    EXPECT_EQ(m->decodePowerScalarUnlocked("PDTR"), (SMCPowerScalar{true, std::nullopt}));
    EXPECT_EQ(m->decodePowerScalarUnlocked("PHPC"), (SMCPowerScalar{false, std::nullopt}));
}

// Replies are random bytes: the service must stay inside the record and fail cleanly.
class GarbageTransport final : public SmcTransport {
public:
    explicit GarbageTransport(unsigned seed) : random_(seed) {}
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    Reply call(const SMCRecordBytes&) override {
        Reply reply;
        reply.kernelReturn = random_() % 4 == 0 ? static_cast<std::int32_t>(random_()) : 0;
        for (auto& b : reply.output) {
            b = static_cast<std::uint8_t>(random_());
        }
        if (random_() % 2 == 0) {
            reply.output[40] = 0; // result byte: success, to reach the decoders
        }
        return reply;
    }

private:
    std::mt19937 random_;
};

TEST(SMCServiceKeys, GarbageRepliesEndInErrorsOrAbsentReadings) {
    for (unsigned seed = 0; seed < 200; ++seed) {
        SMCService service(std::make_unique<GarbageTransport>(seed));
        try {
            auto raw = service.readKeyRaw("F0Ac");
            EXPECT_LE(raw.bytes.size(), 32u);
        } catch (const SMCError&) {
        }
        EXPECT_LE(service.readFans().size(), 16u);
        (void)service.readThermalSensors(false);
        (void)service.readPowerAndBatterySensors();
        try {
            service.writeFanTargetRPM(0, 3000);
        } catch (const SMCError&) {
        }
    }
}

TEST(SMCServiceFans, CountAndNames) {
    struct Case {
        double fnum;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {1, {"Main Fan"}},
        {2, {"Left Fan (CPU)", "Right Fan (GPU)"}},
        {3, {"Left Fan (CPU)", "Right Fan (GPU)", "Fan 3"}},
        {0, {}},
    };
    for (const auto& c : cases) {
        Machine m({{"FNum", number("ui8 ", c.fnum)}});
        std::vector<std::string> names;
        for (const auto& fan : m->readFans()) {
            names.push_back(fan.name);
        }
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(m->readFanCount(), static_cast<int>(c.fnum));
    }
    Machine many({{"FNum", number("ui8 ", 20)}});
    EXPECT_EQ(many->readFanCount(), 16);
    EXPECT_EQ(many->readFans().size(), 16u);
    Machine none({});
    EXPECT_EQ(none->readFanCount(), 0);
    EXPECT_TRUE(none->readFans().empty());
    // A count far below any integer (found by fuzzing) reads as no fans.
    Machine wild({{"FNum", number("flt ", -2.09e21)}});
    EXPECT_EQ(wild->readFanCount(), 0);
    EXPECT_TRUE(wild->readFans().empty());
}

TEST(SMCServiceFans, DefaultsBoundsAndForceMask) {
    Machine m({{"FNum", number("ui8 ", 2)},
               {"FS! ", number("ui16", 2)},
               {"F0Mn", number("flt ", 2500)},
               {"F0Mx", number("flt ", 2300)},
               {"F0Ac", number("flt ", -5)},
               {"F1Tg", number("flt ", -3)}});
    auto fans = m->readFans();
    ASSERT_EQ(fans.size(), 2u);
    EXPECT_EQ(fans[0],
              (FanInfo{0, "Left Fan (CPU)", 0, 2500, 2600, 2500, FanMode::automatic, false}));
    // A negative target is a glitch, read as no target: the fan's minimum.
    EXPECT_EQ(fans[1], (FanInfo{1, "Right Fan (GPU)", 0, 1200, 6500, 1200, FanMode::manual, true}));

    // Bounds are read once per fan.
    int boundsCalls = m.smc->callCount("F0Mn");
    m->readFans();
    EXPECT_EQ(m.smc->callCount("F0Mn"), boundsCalls);
}

TEST(SMCServiceFans, ImpossibleSpeedsReadAsUnreadable) {
    struct Case {
        double actual, target;
        float readActual, readTarget;
    };
    const Case cases[] = {
        {2000, 2100, 2000, 2100},    {25000, 25000, 25000, 25000}, {25001, 100000, 0, 1200},
        {2147483648.0, -1, 0, 1200}, {-0.5, 30000, 0, 1200},
    };
    for (const auto& c : cases) {
        Machine m({{"FNum", number("ui8 ", 1)},
                   {"F0Ac", number("flt ", c.actual)},
                   {"F0Tg", number("flt ", c.target)}});
        auto fans = m->readFans();
        ASSERT_EQ(fans.size(), 1u);
        EXPECT_EQ(fans[0].currentRPM, c.readActual) << c.actual;
        EXPECT_EQ(fans[0].targetRPM, c.readTarget) << c.target;
    }
}

TEST(SMCServiceFans, ModeKeyWinsOverTheMask) {
    Machine m(
        {{"FNum", number("ui8 ", 1)}, {"FS! ", number("ui16", 1)}, {"F0Md", number("ui8 ", 0)}});
    EXPECT_EQ(m->readFans()[0].mode, FanMode::automatic);
}

TEST(SMCServiceFans, WriteModeWritesModeThenMask) {
    Machine m({{"F1Md", number("ui8 ", 0, true)}, {"FS! ", number("ui16", 1, true)}});
    m->writeFanMode(1, FanMode::manual);
    EXPECT_EQ(m.smc->key("F1Md")->bytes, (Bytes{1}));
    EXPECT_EQ(m.smc->key("FS! ")->bytes, (Bytes{0x00, 0x03}));
    m->writeFanMode(0, FanMode::automatic);
    EXPECT_EQ(m.smc->key("FS! ")->bytes, (Bytes{0x00, 0x02}));

    Machine maskOnly({{"FS! ", number("ui16", 0, true)}});
    EXPECT_NO_THROW(maskOnly->writeFanMode(3, FanMode::manual));
    EXPECT_EQ(maskOnly.smc->key("FS! ")->bytes, (Bytes{0x00, 0x08}));

    Machine modeOnly({{"F0Md", number("ui8 ", 0, true)}});
    EXPECT_NO_THROW(modeOnly->writeFanMode(0, FanMode::manual));

    Machine neither({});
    try {
        neither->writeFanMode(0, FanMode::manual);
        FAIL();
    } catch (const SMCError& error) {
        EXPECT_EQ(error, SMCError::keyNotFound("F0Md"));
    }
    EXPECT_THROW(neither->writeFanMode(16, FanMode::manual), SMCError);
    EXPECT_THROW(neither->writeFanMode(-1, FanMode::manual), SMCError);

    Machine user({{"F0Md", number("ui8 ", 0, true)}, {"FS! ", number("ui16", 0, true)}}, false);
    try {
        user->writeFanMode(0, FanMode::manual);
        FAIL();
    } catch (const SMCError& error) {
        EXPECT_EQ(error.kind(), SMCError::Kind::privilegedRequired);
    }
}

TEST(SMCServiceFans, WriteTargetClampsAndEncodesByType) {
    struct Case {
        const char* type;
        float rpm;
        Bytes expected;
    };
    const auto flt5800 = littleEndianBytes(5800);
    const auto flt1200 = littleEndianBytes(1200);
    const Case cases[] = {
        {"flt ", 9000, Bytes(flt5800.begin(), flt5800.end())},
        {"flt ", 100, Bytes(flt1200.begin(), flt1200.end())},
        {"fpe2", 9000, {0x5A, 0xA0}},
        {"ui16", 2000.5f, {0x07, 0xD1}},
    };
    for (const auto& c : cases) {
        std::string type = c.type;
        Machine m({{"F0Mn", number("flt ", 1200)},
                   {"F0Mx", number("flt ", 5800)},
                   {"F0Tg", raw(type, Bytes(type == "flt " ? 4 : 2, 0), true)}});
        m->writeFanTargetRPM(0, c.rpm);
        EXPECT_EQ(m.smc->key("F0Tg")->bytes, c.expected) << c.type << " " << c.rpm;
    }
    Machine noBounds({{"F2Tg", raw("flt ", Bytes(4, 0), true)}});
    noBounds->writeFanTargetRPM(2, 9000);
    EXPECT_EQ(littleEndianFloat(noBounds.smc->key("F2Tg")->bytes), 6800.0f);
    EXPECT_EQ(SMCError::writeFailed("F2Tg"), [&] {
        try {
            noBounds->writeFanTargetRPM(2, std::numeric_limits<float>::quiet_NaN());
        } catch (const SMCError& error) {
            return error;
        }
        return SMCError::writeFailed("none");
    }());
    EXPECT_THROW(noBounds->writeFanTargetRPM(0, 3000), SMCError);
}

} // namespace
} // namespace ventoral
