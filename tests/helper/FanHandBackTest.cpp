// Fans go back exactly as they were before this program took them, and fans it never took are
// left alone, across the separate processes that take and hand back.
#include "helper/operator/DirectSMCOperator.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "tests/support/SysfsFixture.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using testing::SysfsFixture;
using testing::userTunedDesk;

const std::string board = "devices/platform/nct6775.656/hwmon/hwmon2/";
const std::string pwmFan = "devices/platform/pwm-fan/hwmon/hwmon5/";
const std::string targetOnly = "devices/i2c-0/0-001b/hwmon/hwmon7/";

struct Desk {
    SysfsFixture fixture;
    Desk() { userTunedDesk(fixture); }
    // One helper run: its own operator over the machine and the shared state folder.
    std::unique_ptr<DirectSMCOperator> process() {
        return std::make_unique<DirectSMCOperator>(std::make_unique<HwmonSmcTransport>(
            fixture.root(), FanControlMemory::folderFor(fixture.root())));
    }
    std::string state(const std::string& chip, int n) {
        const std::string i = std::to_string(n);
        return fixture.read(chip + "pwm" + i + "_enable") + "/" + fixture.read(chip + "pwm" + i);
    }
    std::vector<std::string> all() {
        return {fixture.read(targetOnly + "fan1_target"), state(board, 1), state(board, 2),
                state(board, 3), state(pwmFan, 1)};
    }
};

const std::vector<std::string> asFound{"3000", "2/120", "3/80", "1/60", "2/100"};

TEST(FanHandBack, TakenFansGoBackExactlyAndOnlyOnce) {
    struct Case {
        const char* name;
        std::string second; // the later process's command, after the quitting app's reset-auto
        std::vector<std::string> after;
    };
    const Case cases[] = {
        // An explicit reset finds fan 3 manual, as it was found, and nothing remembered.
        {"reset-auto again", "reset-auto", {"3000", "2/120", "3/80", "5/60", "2/100"}},
        {"the daemon's hand-back for a client that left", "client-left", asFound},
        {"the unit's hand-back after a stop", "hand-back", asFound},
    };
    for (const auto& c : cases) {
        Desk desk;
        {
            auto app = desk.process();
            for (int fan = 0; fan < 5; ++fan) {
                ASSERT_TRUE(app->setFanRPM(fan, 100000)) << fan;
            }
        }
        // The closed-loop fan has no limits of its own, so the helper's usual top applies.
        EXPECT_EQ(desk.all(),
                  (std::vector<std::string>{"6800", "1/255", "1/255", "1/255", "1/255"}));
        EXPECT_TRUE(desk.process()->resetAllFansToAuto()) << c.name;
        EXPECT_EQ(desk.all(), asFound) << c.name;

        auto later = desk.process();
        if (c.second == "reset-auto") {
            EXPECT_TRUE(later->resetAllFansToAuto());
        } else {
            EXPECT_TRUE(later->handBackFans({0, 1, 2, 3, 4}, c.second == "hand-back").empty())
                << c.name;
        }
        EXPECT_EQ(desk.all(), c.after) << c.name;
        EXPECT_TRUE(later->takeNotices().empty()) << c.name;
    }
}

TEST(FanHandBack, AHandBackTouchesOnlyWhatThisProgramTook) {
    Desk desk;
    desk.process()->setFanRPM(1, 3000); // this program takes board fan 1 only
    const auto handedBack = desk.process()->handBackFans({}, true);
    EXPECT_EQ(handedBack, (std::vector<std::int64_t>{1}));
    EXPECT_EQ(desk.all(), asFound);
    // A client's hand-back of fans it asked for but this program never took changes nothing.
    EXPECT_TRUE(desk.process()->handBackFans({0, 2, 3, 4}, false).empty());
    EXPECT_EQ(desk.all(), asFound);
}

TEST(FanHandBack, AnExplicitResetLeavesAutomaticFansAndDefaultsManualOnes) {
    Desk desk;
    auto helper = desk.process();
    EXPECT_TRUE(helper->resetAllFansToAuto());
    // Fan 3 was manual with nothing remembered: the board's automatic mode. The others were
    // automatic already (fan 0 has no mode to switch) and are not written.
    EXPECT_EQ(desk.all(), (std::vector<std::string>{"3000", "2/120", "3/80", "5/60", "2/100"}));
    EXPECT_TRUE(helper->takeNotices().empty());

    // pwm-fan has no automatic value that is safe to guess: full duty, and the user is told.
    desk.fixture.write(pwmFan + "pwm1_enable", "1");
    desk.fixture.write(pwmFan + "pwm1", "40");
    EXPECT_TRUE(helper->resetAllFansToAuto());
    EXPECT_EQ(desk.state(pwmFan, 1), "1/255");
    EXPECT_EQ(helper->takeNotices(),
              (std::vector<std::string>{
                  "pwmfan fan 1: its driver did not accept automatic control, so it runs at full "
                  "speed"}));
}

TEST(FanHandBack, AFanSteeredByItsTargetAloneCanBeControlled) {
    Desk desk;
    auto helper = desk.process();
    EXPECT_FALSE(helper->isFanManual(0));
    EXPECT_TRUE(helper->setFanRPM(0, 4200));
    EXPECT_EQ(desk.fixture.read(targetOnly + "fan1_target"), "4200");
    EXPECT_TRUE(helper->isFanManual(0)); // held by this program
    EXPECT_TRUE(helper->setFanMode(0, 0));
    EXPECT_EQ(desk.fixture.read(targetOnly + "fan1_target"), "3000");
    EXPECT_FALSE(helper->isFanManual(0));
}

} // namespace
} // namespace ventoral
