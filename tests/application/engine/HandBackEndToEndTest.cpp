// The installed shape, on fixtures: a set-user-id helper and the helper daemon that see the same
// fixed fixture machine, and an unprivileged engine driving them. However the engine or the
// daemon ends, every fan is left exactly as the user had it.
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/SysfsFixture.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

namespace fs = std::filesystem;
using namespace ventoral::testing;

const std::string board = "devices/platform/nct6775.656/hwmon/hwmon2/";
const std::string pwmFan = "devices/platform/pwm-fan/hwmon/hwmon5/";
const std::string targetOnly = "devices/i2c-0/0-001b/hwmon/hwmon7/";

class FixtureHelperEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "the helper is set-user-id root and the engine runs as nobody";
        }
        userTunedDesk(machine);
        const std::string p = prefix.path();
        for (const std::string& copy : {daemonCopy(), p + "/usr/local/bin/VentoralHelper"}) {
            fs::create_directories(fs::path(copy).parent_path());
            fs::copy_file(VENTORAL_HELPER_FIXTURE_PATH, copy);
            ASSERT_EQ(::chown(copy.c_str(), 0, 0), 0);
            ASSERT_EQ(::chmod(copy.c_str(), 04755), 0);
        }
        // /tmp may be mounted without set-user-id.
        auto status = runCommand({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                  "--clear-groups", daemonCopy(), "status"});
        if (status.out.rfind("EUID: 0", 0) != 0) {
            GTEST_SKIP() << "this file system does not honour set-user-id";
        }
        fs::create_directories(p + "/etc/systemd/system");
        std::ofstream(p + "/etc/systemd/system/com.tesvane.smchelper.service") << "[Unit]\n";
        writeScript(p + "/usr/bin/systemctl", "echo enabled\n");
        probe = folder.path() + "/engine-probe";
        fs::copy_file(VENTORAL_ENGINE_PROBE_PATH, probe);
        ::chmod(probe.c_str(), 0755);
        ASSERT_TRUE(bus.isUp());
        // The engine runs as an ordinary user in an active session, as polkit would say.
        polkit = bus.startPolkit({"com.tesvane.smchelper.control-fans"});
        ASSERT_TRUE(polkit);
        daemon = bus.startHelperDaemon(daemonCopy(), machine.root());
        ASSERT_TRUE(daemon);
    }
    std::string daemonCopy() const {
        return prefix.path() + "/usr/local/libexec/com.tesvane.smchelper";
    }
    std::unique_ptr<BackgroundProcess> startEngineAtMax() {
        auto engine = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", probe, "max"},
            EnvironmentChanges{{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()},
                               {"VENTORAL_SYSFS_ROOT", machine.root()},
                               {"VENTORAL_ROOT_PREFIX", prefix.path()},
                               {"VENTORAL_SMC_PROFILE", ""},
                               {"QT_QPA_PLATFORM", "offscreen"}});
        EXPECT_TRUE(waitUntil([&] { return state() == atMax; }, 15))
            << engine->errorOutput() << daemon->errorOutput();
        return engine;
    }
    std::string fan(const std::string& chip, int n) {
        const std::string i = std::to_string(n);
        return machine.read(chip + "pwm" + i + "_enable") + "/" + machine.read(chip + "pwm" + i);
    }
    std::vector<std::string> state() {
        return {machine.read(targetOnly + "fan1_target"), fan(board, 1), fan(board, 2),
                fan(board, 3), fan(pwmFan, 1)};
    }
    // The daemon takes its bus messages in order: once it answers, it has seen every client
    // that left before.
    bool daemonCaughtUp() {
        return runCommand({"/usr/bin/busctl", "--address=" + bus.address(), "call",
                           "com.tesvane.smchelper", "/com/tesvane/smchelper",
                           "com.tesvane.SMCHelperProtocol", "Ping"})
                   .exitStatus == 0;
    }

    const std::vector<std::string> asFound{"3000", "2/120", "3/80", "1/60", "2/100"};
    const std::vector<std::string> atMax{"6500", "1/255", "1/255", "1/255", "1/255"};
    SysfsFixture machine{VENTORAL_SETUID_FIXTURE_ROOT};
    PrivateBus bus;
    TemporaryFolder prefix, folder;
    std::string probe;
    std::unique_ptr<BackgroundProcess> polkit, daemon;
};

TEST_F(FixtureHelperEndToEnd, QuittingTheApplicationLeavesEveryFanAsItWas) {
    auto engine = startEngineAtMax();
    EXPECT_EQ(engine->stop(SIGTERM, 5), 0) << engine->errorOutput();
    ASSERT_TRUE(daemonCaughtUp()) << daemon->errorOutput();
    EXPECT_EQ(state(), asFound) << daemon->errorOutput();
}

TEST_F(FixtureHelperEndToEnd, StoppingTheUnitLeavesEveryFanAsItWas) {
    auto engine = startEngineAtMax();
    ::kill(engine->pid(), SIGSTOP); // the application stays, silent, while the unit stops
    EXPECT_EQ(daemon->stop(SIGTERM, 5), 0);
    EXPECT_EQ(state(), asFound) << daemon->errorOutput();
    auto stopPost = runCommand({daemonCopy(), "hand-back"});
    EXPECT_EQ(stopPost.exitStatus, 0) << stopPost.err;
    EXPECT_EQ(state(), asFound) << stopPost.out;
    engine->stop(SIGKILL);
}

TEST_F(FixtureHelperEndToEnd, AClientThatCrashedHasItsFansHandedBack) {
    auto engine = startEngineAtMax();
    engine->stop(SIGKILL);
    // The fans are written back first, then the hand-back is logged.
    EXPECT_TRUE(waitUntil(
        [&] {
            return daemon->errorOutput().find("handed fan 0 back: its client") != std::string::npos;
        },
        5))
        << daemon->errorOutput();
    EXPECT_EQ(state(), asFound);
}

} // namespace
} // namespace ventoral
