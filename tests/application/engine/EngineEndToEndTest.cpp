// An unprivileged engine process driving root-owned fixture fans through the helper daemon.
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/SysfsFixture.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

namespace fs = std::filesystem;
using namespace ventoral::testing;

class EngineEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "the daemon runs as root and the engine as nobody";
        }
        ASSERT_TRUE(bus.isUp());
        nct6775Desktop(machine);
        // The installed helper as the writer sees it: root's, the unit enabled; sudo refuses.
        const std::string p = prefix.path();
        fs::create_directories(p + "/usr/local/libexec");
        fs::copy_file("/bin/true", p + "/usr/local/libexec/com.tesvane.smchelper");
        fs::create_directories(p + "/etc/systemd/system");
        std::ofstream(p + "/etc/systemd/system/com.tesvane.smchelper.service") << "[Unit]\n";
        writeScript(p + "/usr/bin/systemctl", "echo enabled\n");
        std::ofstream(p + "/sudo.log");
        ::chmod((p + "/sudo.log").c_str(), 0666);
        writeScript(p + "/usr/bin/sudo",
                    "echo \"$*\" >> '" + p +
                        "/sudo.log'\necho 'sudo: a password is required' >&2\nexit 1\n");
        probe = folder.path() + "/engine-probe";
        fs::copy_file(VENTORAL_ENGINE_PROBE_PATH, probe);
        ::chmod(probe.c_str(), 0755);
        startDaemon();
    }
    void startDaemon() {
        // The engine runs as an ordinary user in an active session, as polkit would say.
        if (!polkit) {
            polkit = bus.startPolkit({"com.tesvane.smchelper.control-fans"});
            ASSERT_TRUE(polkit);
        }
        daemon = bus.startHelperDaemon(VENTORAL_HELPER_PATH, machine.root());
        ASSERT_TRUE(daemon);
    }
    std::unique_ptr<BackgroundProcess> startEngine() {
        auto engine = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", probe, "curve"},
            EnvironmentChanges{{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()},
                               {"VENTORAL_SYSFS_ROOT", machine.root()},
                               {"VENTORAL_ROOT_PREFIX", prefix.path()},
                               {"VENTORAL_SMC_PROFILE", ""},
                               {"QT_QPA_PLATFORM", "offscreen"}});
        EXPECT_TRUE(
            waitUntil([&] { return engine->errorOutput().find("ready") != std::string::npos; }, 10))
            << engine->errorOutput();
        return engine;
    }
    std::string enable(int n) {
        return machine.read(board + "pwm" + std::to_string(n) + "_enable");
    }
    int duty(int n) { return std::atoi(machine.read(board + "pwm" + std::to_string(n)).c_str()); }
    // The probe's curve asks for 55-60 % of each fan's range, which on the uncalibrated board
    // lies above the 30 % duty floor; the board's fans start at 91-93.
    bool onTheCurve(int n) { return enable(n) == "1" && duty(n) >= 175 && duty(n) <= 184; }
    long lines(const std::string& log) {
        std::ifstream file(prefix.path() + log);
        return std::count(std::istreambuf_iterator<char>(file), {}, '\n');
    }
    bool allAutomatic() { return enable(1) == "5" && enable(2) == "5" && enable(3) == "5"; }

    PrivateBus bus;
    SysfsFixture machine;
    TemporaryFolder prefix, folder;
    std::string probe;
    std::unique_ptr<BackgroundProcess> polkit, daemon;
    const std::string board = "devices/platform/nct6775.656/hwmon/hwmon2/";
};

TEST_F(EngineEndToEnd, ACurveDrivesTheFansThroughTheDaemonAndQuittingHandsThemBack) {
    auto engine = startEngine();
    EXPECT_NE(engine->errorOutput().find("ready fans 4 mode Privileged XPC Daemon"),
              std::string::npos)
        << engine->errorOutput();
    ASSERT_TRUE(waitUntil([&] { return onTheCurve(1) && onTheCurve(2); }, 10))
        << "duties " << duty(1) << " " << duty(2) << "\n"
        << engine->errorOutput() << daemon->errorOutput();

    // The reset on quitting is synchronous and bounded at 1.5 s; a second more for the exit.
    ::kill(engine->pid(), SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return !engine->isRunning() && allAutomatic(); }, 2.5))
        << engine->errorOutput();
    EXPECT_EQ(engine->stop(SIGTERM, 5), 0);
}

TEST_F(EngineEndToEnd, ARefusalShowsTheAuthorizationMessageAndWritesStop) {
    // No daemon registered: the writes go to the installed helper through sudo, which wants a
    // password.
    fs::remove(prefix.path() + "/etc/systemd/system/com.tesvane.smchelper.service");
    writeScript(prefix.path() + "/usr/bin/systemctl", "echo disabled\nexit 1\n");
    auto engine = startEngine();
    EXPECT_NE(engine->errorOutput().find("mode Authorization Required (Read-Only)"),
              std::string::npos)
        << engine->errorOutput();
    const std::string message =
        "Fan control requires administrator privileges. Click 'Authorize Fan Control' to enable.";
    ASSERT_TRUE(waitUntil(
        [&] {
            return engine->errorOutput().find("authorized 0 error " + message) != std::string::npos;
        },
        10))
        << engine->errorOutput();
    // Writes dispatched before the first refusal came back still run (the probe says when they
    // have ended); none starts after.
    ASSERT_TRUE(waitUntil(
        [&] { return engine->errorOutput().find("writes drained") != std::string::npos; }, 10))
        << engine->errorOutput();
    const long before = lines("/sudo.log");
    EXPECT_GE(before, 1);
    EXPECT_LE(before, 4); // at most one per fan
    // A fan speed changed here shows at the engine's next tick: seeing two means the tick that
    // saw the first has run whole since.
    for (const std::string rpm : {"4321", "4322"}) {
        machine.write(board + "fan1_input", rpm);
        ASSERT_TRUE(waitUntil(
            [&] { return engine->errorOutput().find(" " + rpm) != std::string::npos; }, 15))
            << engine->errorOutput();
    }
    EXPECT_EQ(lines("/sudo.log"), before);
    EXPECT_TRUE(allAutomatic()); // nothing reached the fans
    EXPECT_EQ(engine->stop(SIGTERM, 5), 0);
}

} // namespace
} // namespace ventoral
