// The interface's methods apart from the bus: custody, the backstop's hold and the log.
#include "helper/daemon/HelperRequests.h"

#include "platform/smc/EmulatedSmcTransport.h"

#include <gtest/gtest.h>
#include <sstream>

namespace ventoral {
namespace {

using Key = EmulatedSmcTransport::Key;

Key number(const std::string& type, double value) {
    std::size_t size = type == "flt " ? 4 : type == "ui8 " ? 1 : 2;
    return {type, EmulatedSmcTransport::encodeNumber(value, type, size), true, true, 0};
}

// Fan 0 takes every write; fan 1 switches to manual but refuses its target.
struct Daemon {
    EmulatedSmcTransport* smc;
    std::unique_ptr<DirectSMCOperator> op;
    FanCustody custody;
    ThermalHold hold{""};
    std::ostringstream log;
    int changes = 0;
    std::string refusedClient = ":1.99"; // polkit's answer for this client is no
    std::unique_ptr<HelperRequests> requests;

    Daemon() {
        auto transport = std::make_unique<EmulatedSmcTransport>(
            std::map<std::string, Key>{{"FNum", number("ui8 ", 2)},
                                       {"TC0P", number("flt ", 96)},
                                       {"F0Md", number("ui8 ", 0)},
                                       {"F0Tg", number("flt ", 0)},
                                       {"F1Md", number("ui8 ", 0)}},
            true);
        smc = transport.get();
        op = std::make_unique<DirectSMCOperator>(std::move(transport));
        requests = std::make_unique<HelperRequests>(
            *op, [](bool) { return true; }, 0, custody, [this] { ++changes; }, hold,
            [this](const std::string& sender, const char*) { return sender != refusedClient; },
            log);
    }
};

TEST(HelperRequests, OnlyAFanThatIsManualNowIsHeld) {
    struct Case {
        const char* name;
        std::function<HelperRequests::Result(HelperRequests&)> call;
        bool success;
        std::vector<std::int64_t> held;
    };
    const Case cases[] = {
        {"a speed written", [](auto& r) { return r.setFanRPM(0, 2000, ":1.5"); }, true, {0}},
        {"manual without a target", [](auto& r) { return r.setFanMode(1, 1, ":1.5"); }, true, {1}},
        {"mode taken, target refused",
         [](auto& r) { return r.setFanRPM(1, 2000, ":1.5"); },
         false,
         {1}},
        {"a fan that does not exist",
         [](auto& r) { return r.setFanMode(15, 1, ":1.5"); },
         false,
         {}},
        {"a speed for a fan that does not exist",
         [](auto& r) { return r.setFanRPM(9, 2000, ":1.5"); },
         false,
         {}},
    };
    for (const auto& c : cases) {
        Daemon d;
        auto [success, message] = c.call(*d.requests);
        EXPECT_EQ(success, c.success) << c.name;
        EXPECT_EQ(d.custody.release(":1.5"), c.held) << c.name;
        EXPECT_EQ(d.changes, c.held.empty() ? 0 : 1) << c.name;
        EXPECT_EQ(d.log.str().empty(), c.success) << c.name << ": " << d.log.str();
    }
}

TEST(HelperRequests, FansTheBackstopHandedBackAreRefusedWhileTheCPUIsHot) {
    Daemon d;
    d.hold.hold({0});
    auto [refused, message] = d.requests->setFanRPM(0, 2000, ":1.7");
    EXPECT_FALSE(refused);
    EXPECT_EQ(message,
              "Fan 0 stays under automatic control: the CPU reached 95\u00B0C while it "
              "was held manually. Manual control returns once the CPU is below 88\u00B0C.");
    EXPECT_FALSE(d.custody.anyManual());
    EXPECT_EQ(d.smc->key("F0Md")->bytes, std::vector<std::uint8_t>{0}); // nothing written
    EXPECT_EQ(d.log.str(), "VentoralHelper: refused manual control of fan 0 to :1.7: the CPU has "
                           "not cooled below 88 C yet\n");
    EXPECT_TRUE(std::get<0>(d.requests->setFanMode(0, 0, ":1.7")));

    d.smc->setKey("TC0P", number("flt ", 80));
    EXPECT_TRUE(std::get<0>(d.requests->setFanRPM(0, 2000, ":1.7")));
}

TEST(HelperRequests, AHeldFanSwitchedBackBySomeoneElseIsLogged) {
    Daemon d;
    ASSERT_TRUE(std::get<0>(d.requests->setFanRPM(0, 2000, ":1.5")));
    ASSERT_TRUE(std::get<0>(d.requests->setFanRPM(0, 2100, ":1.5")));
    EXPECT_EQ(d.log.str(), "");
    d.smc->setKey("F0Md", number("ui8 ", 0)); // another program's doing
    ASSERT_TRUE(std::get<0>(d.requests->setFanRPM(0, 2200, ":1.5")));
    EXPECT_EQ(d.log.str(), "VentoralHelper: fan 0 was switched away from manual control by "
                           "another program since :1.5 last set it\n");
}

TEST(HelperRequests, ACallerWithoutTheRightMayOnlyPingAndHandBack) {
    Daemon d;
    const std::string caller = d.refusedClient;
    const std::string fans = "Not authorized to control the fans: that needs an active local "
                             "session or an administrator's password";
    EXPECT_EQ(d.requests->setFanRPM(0, 2000, caller), HelperRequests::Result(false, fans));
    EXPECT_EQ(d.requests->setFanMode(0, 1, caller), HelperRequests::Result(false, fans));
    EXPECT_EQ(std::get<1>(d.requests->setLowPowerMode(true, caller)),
              "Not authorized to switch the power profile: that needs an active local session or "
              "an administrator's password");
    EXPECT_EQ(d.smc->key("F0Md")->bytes, std::vector<std::uint8_t>{0}); // nothing written
    EXPECT_FALSE(d.custody.anyManual());
    EXPECT_TRUE(std::get<0>(d.requests->ping()));
    EXPECT_TRUE(std::get<0>(d.requests->setFanMode(0, 0, caller)));
    EXPECT_TRUE(std::get<0>(d.requests->resetAllFansToAuto()));
}

} // namespace
} // namespace ventoral
