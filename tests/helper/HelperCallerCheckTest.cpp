// Who may use the daemon: root always, anyone else as polkit decides for their connection.
#include "tests/support/PrivateBus.h"
#include "tests/support/SysfsFixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace ventoral {
namespace {

using namespace ventoral::testing;

// One connection of an ordinary user (nobody) making the calls in `calls` in order, one line
// of results ("True|" and the like) each.
const char* const client = R"py(
import sys, dbus
bus = dbus.SystemBus()
helper = dbus.Interface(bus.get_object('com.tesvane.smchelper', '/com/tesvane/smchelper'),
                        'com.tesvane.SMCHelperProtocol')
for call in sys.argv[1:]:
    name, *args = call.split()
    values = [dbus.Boolean(a == 'on') if a in ('on', 'off') else
              dbus.Double(float(a)) if '.' in a else dbus.Int64(int(a)) for a in args]
    ok, message = getattr(helper, name)(*values)
    print(f'{bool(ok)}|{message}')
)py";

class HelperCallerCheck : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "the caller runs as nobody";
        }
        ASSERT_TRUE(bus.isUp());
        nct6775Desktop(machine);
    }
    void startDaemon() {
        daemon = bus.startHelperDaemon(VENTORAL_HELPER_PATH, machine.root());
        ASSERT_TRUE(daemon);
    }
    CommandResult asNobody(const std::vector<std::string>& calls) {
        std::vector<std::string> argv{"/usr/bin/setpriv",
                                      "--reuid=65534",
                                      "--regid=65534",
                                      "--clear-groups",
                                      "/usr/bin/python3",
                                      "-c",
                                      client};
        argv.insert(argv.end(), calls.begin(), calls.end());
        return runCommand(argv, {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}});
    }

    PrivateBus bus;
    SysfsFixture machine;
    std::unique_ptr<BackgroundProcess> daemon;
    const std::string board = "devices/platform/nct6775.656/hwmon/hwmon2/";
    const std::string refusedFans = "False|Not authorized to control the fans: that needs an "
                                    "active local session or an administrator's password\n";
    const std::string gpu = "devices/pci0000:00/0000:00:01.1/0000:03:00.0/hwmon/hwmon1/";
};

TEST_F(HelperCallerCheck, AnAllowedCallerIsCheckedOncePerConnection) {
    auto polkit = bus.startPolkit({"com.tesvane.smchelper.control-fans"});
    ASSERT_TRUE(polkit);
    startDaemon();
    auto run = asNobody(
        {"SetFanRPM 0 2000.0", "SetFanRPM 0 2100.0", "SetFanMode 1 1", "SetLowPowerMode on"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "True|\nTrue|\nTrue|\n"
                       "False|Not authorized to switch the power profile: that needs an active "
                       "local session or an administrator's password\n");
    // The writes took: the fans were held until the caller left, and handed back then.
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::string log = daemon->errorOutput();
            return log.find("handed fan 0 back") != std::string::npos &&
                   log.find("handed fan 1 back") != std::string::npos;
        },
        5))
        << daemon->errorOutput();
    // One check for the fans, one for the profile: the rest came from the connection's answer.
    EXPECT_EQ(bus.polkitChecks(), 2);
    EXPECT_NE(daemon->errorOutput().find("refused com.tesvane.smchelper.switch-power-profile to "),
              std::string::npos)
        << daemon->errorOutput();
}

TEST_F(HelperCallerCheck, ARefusedOrUncheckableCallerMayOnlyPingAndHandBack) {
    struct Case {
        const char* name;
        bool withPolkit;
    };
    for (const Case c : {Case{"polkit says no", true}, Case{"no polkit at all", false}}) {
        auto polkit = c.withPolkit ? bus.startPolkit({}) : nullptr;
        startDaemon();
        auto run = asNobody({"SetFanRPM 0 2000.0", "SetFanMode 0 1", "SetFanMode 0 0",
                             "ResetAllFansToAuto", "Ping"});
        EXPECT_EQ(run.exitStatus, 0) << c.name << run.err;
        EXPECT_EQ(run.out, refusedFans + refusedFans + "True|\nTrue|\n" +
                               "True|VentoralHelper daemon online (euid: 0)\n")
            << c.name;
        EXPECT_EQ(machine.read(gpu + "pwm1_enable"), "2") << c.name;
        EXPECT_NE(daemon->errorOutput().find("refused com.tesvane.smchelper.control-fans to "),
                  std::string::npos)
            << c.name << daemon->errorOutput();
        daemon->stop(SIGTERM);
    }
}

} // namespace
} // namespace ventoral
