// Fans are handed back when whoever holds them goes away: a client that dies, the daemon being
// stopped, the system going to sleep, or a CPU left too hot.
#include "core/helper/HelperProtocol.h"
#include "helper/daemon/FanCustody.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/SysfsFixture.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace ventoral::testing;

TEST(FanCustody, ClientsReleaseOnlyTheirOwnFans) {
    FanCustody custody;
    custody.noteManual(0, ":1.5");
    custody.noteManual(1, ":1.6");
    custody.noteManual(2, ":1.5");
    custody.noteManual(1, ":1.5"); // the last to set it manual holds it
    EXPECT_EQ(custody.release(":1.6"), std::vector<std::int64_t>{});
    custody.noteAutomatic(2);
    EXPECT_EQ(custody.release(":1.5"), (std::vector<std::int64_t>{0, 1}));
    EXPECT_FALSE(custody.anyManual());
    custody.noteManual(3, ":1.7");
    custody.noteAllAutomatic();
    EXPECT_EQ(custody.releaseAll(), std::vector<std::int64_t>{});
}

TEST(ThermalBackstop, TenHotSecondsWhileManual) {
    struct Step {
        double at;
        bool manual;
        std::optional<double> celsius;
        bool handBack;
    };
    const std::vector<Step> steps{
        {0, true, 96, false},
        {5, true, 97, false},
        {9.9, true, 95, false},
        {10, true, 99, true},
        {11, true, 99, false}, // a new stretch starts after acting
        {12, true, 90, false},
        {13, true, 96, false},
        {20, false, 96, false},
        {21, true, 96, false},
        {25, true, std::nullopt, false}, // unreadable: no verdict
        {31, true, 96, true},
        {40, true, 400, false},
        {60, true, 400, false},
    };
    ThermalBackstop backstop;
    for (const auto& s : steps) {
        EXPECT_EQ(backstop.sample(s.manual, s.celsius, s.at), s.handBack) << s.at;
    }
}

const char* const holdScript = R"(
import sys, time, dbus
bus = dbus.bus.BusConnection(sys.argv[1])
helper = bus.get_object('com.tesvane.smchelper', '/com/tesvane/smchelper')
for fan in sys.argv[2:]:
    ok, message = helper.SetFanMode(dbus.Int64(int(fan)), dbus.Int64(1),
                                    dbus_interface='com.tesvane.SMCHelperProtocol')
    if not ok:
        sys.exit(3)
time.sleep(120)
)";

class HelperGuard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.isUp());
        nct6775Desktop(machine);
        std::ofstream(script.path() + "/hold.py") << holdScript;
    }
    void startDaemon() {
        daemon = bus.startHelperDaemon(VENTORAL_HELPER_PATH, machine.root());
        ASSERT_TRUE(daemon);
    }
    CommandResult call(const std::string& method, std::vector<std::string> args = {}) {
        std::vector<std::string> argv{"/usr/bin/busctl",
                                      "--address=" + bus.address(),
                                      "call",
                                      HelperProtocol::busName,
                                      HelperProtocol::objectPath,
                                      HelperProtocol::interfaceName,
                                      method};
        argv.insert(argv.end(), args.begin(), args.end());
        return runCommand(argv);
    }
    // A client that puts fans in manual mode and stays on the bus until killed.
    std::unique_ptr<BackgroundProcess> holder(std::vector<std::string> fans) {
        std::vector<std::string> argv{"/usr/bin/python3", script.path() + "/hold.py",
                                      bus.address()};
        argv.insert(argv.end(), fans.begin(), fans.end());
        auto process = std::make_unique<BackgroundProcess>(argv);
        EXPECT_TRUE(waitUntil(
            [&] {
                for (const auto& fan : fans) {
                    if (enable(std::stoi(fan)) != "1") {
                        return false;
                    }
                }
                return true;
            },
            10))
            << process->errorOutput();
        return process;
    }
    // The board's pwm enable file of a fan (fan 0 is the graphics card's).
    std::string enable(int fan) {
        if (fan == 0) {
            return machine.read(
                "devices/pci0000:00/0000:00:01.1/0000:03:00.0/hwmon/hwmon1/pwm1_enable");
        }
        return machine.read(board + "pwm" + std::to_string(fan) + "_enable");
    }
    // python3-dbusmock's logind on the bus, once it answers.
    std::unique_ptr<BackgroundProcess> startLogind() {
        auto logind = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--system", "--template",
                                     "logind"},
            EnvironmentChanges{{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}});
        EXPECT_TRUE(waitUntil([&] { return inhibitors().exitStatus == 0; }, 15))
            << logind->errorOutput();
        return logind;
    }
    CommandResult inhibitors() {
        return runCommand({"/usr/bin/busctl", "--address=" + bus.address(), "call",
                           "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "ListInhibitors"});
    }
    bool restoredWithin(int fan, const std::string& automatic, double seconds) {
        return waitUntil([&] { return enable(fan) == automatic; }, seconds);
    }

    PrivateBus bus;
    SysfsFixture machine;
    TemporaryFolder script;
    std::unique_ptr<BackgroundProcess> daemon;
    const std::string board = "devices/platform/nct6775.656/hwmon/hwmon2/";
};

TEST_F(HelperGuard, AClientThatDiesGivesItsFansBack) {
    startDaemon();
    auto a = holder({"1", "2"});
    auto b = holder({"3"});
    kill(a->pid(), SIGKILL);
    EXPECT_TRUE(restoredWithin(1, "5", 2));
    EXPECT_TRUE(restoredWithin(2, "5", 2));
    EXPECT_EQ(enable(3), "1"); // still held by a live client

    // A client that simply ends counts the same.
    EXPECT_EQ(call("SetFanMode", {"xx", "0", "1"}).exitStatus, 0);
    EXPECT_TRUE(restoredWithin(0, "2", 2));
    b->stop(SIGTERM);
    EXPECT_TRUE(restoredWithin(3, "5", 2));
}

TEST_F(HelperGuard, StoppingTheDaemonHandsEveryFanBack) {
    startDaemon();
    auto a = holder({"1", "3"});
    EXPECT_EQ(daemon->stop(SIGTERM), 0);
    EXPECT_EQ(enable(1), "5");
    EXPECT_EQ(enable(3), "5");
}

TEST_F(HelperGuard, SleepWaitsForTheFans) {
    auto logind = startLogind();
    startDaemon();
    EXPECT_EQ(inhibitors().out, "a(ssssuu) 0\n");
    auto a = holder({"2"});
    ASSERT_TRUE(waitUntil([&] { return inhibitors().out.rfind("a(ssssuu) 1 ", 0) == 0; }, 5));
    EXPECT_NE(inhibitors().out.find("\"sleep\" \"Ventoral\""), std::string::npos);
    EXPECT_NE(inhibitors().out.find("\"delay\""), std::string::npos);

    auto emit = runCommand(
        {"/usr/bin/busctl", "--address=" + bus.address(), "call", "org.freedesktop.login1",
         "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "EmitSignal", "sssav",
         "org.freedesktop.login1.Manager", "PrepareForSleep", "b", "1", "b", "true"});
    ASSERT_EQ(emit.exitStatus, 0) << emit.err;
    ASSERT_TRUE(waitUntil([&] { return inhibitors().out == "a(ssssuu) 0\n"; }, 5));
    EXPECT_EQ(enable(2), "5"); // already back when the inhibitor went
}

TEST_F(HelperGuard, ALogindThatAppearsLaterIsAskedThen) {
    startDaemon();
    auto a = holder({"2"}); // no logind yet: asked once, refused
    auto logind = startLogind();
    // Asked when its name appeared, or at the latest with the next write.
    auto b = holder({"3"});
    EXPECT_TRUE(waitUntil([&] { return inhibitors().out.rfind("a(ssssuu) 1 ", 0) == 0; }, 5))
        << inhibitors().out;
}

TEST_F(HelperGuard, ACPILeftTooHotIsHandedBack) {
    machine.write("devices/pci0000:00/0000:00:18.3/hwmon/hwmon0/temp1_input", "96000");
    startDaemon();
    auto a = holder({"1"});
    // Ten hot seconds are needed: not handed back within the first five.
    EXPECT_FALSE(restoredWithin(1, "5", 5));
    EXPECT_EQ(enable(1), "1");
    EXPECT_TRUE(restoredWithin(1, "5", 8));

    // Taking it straight back would fight the backstop: refused until the CPU has cooled.
    auto refused = call("SetFanMode", {"xx", "1", "1"});
    EXPECT_EQ(refused.out.rfind("bs false \"Fan 1 stays under automatic control: the CPU reached "
                                "95",
                                0),
              0u)
        << refused.out << refused.err;
    EXPECT_EQ(enable(1), "5");
    machine.write("devices/pci0000:00/0000:00:18.3/hwmon/hwmon0/temp1_input", "80000");
    EXPECT_EQ(call("SetFanMode", {"xx", "1", "1"}).out, "bs true \"\"\n");
}

} // namespace
} // namespace ventoral
