// The helper as a program: real processes over fixture machines, as root, as an ordinary user
// and as a set-user-id copy.
#include "tests/support/ChildProcess.h"
#include "tests/support/SysfsFixture.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

namespace fs = std::filesystem;
using namespace ventoral::testing;

const std::string helper = VENTORAL_HELPER_PATH;
const std::string setpriv = "/usr/bin/setpriv";

std::vector<std::string> asNobody(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
    return argv;
}

class HelperProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "these runs switch users and need root";
        }
        thinkpadLaptop(machine);
    }
    CommandResult helperRun(std::vector<std::string> args, bool nobody = false) {
        args.insert(args.begin(), helper);
        return runCommand(nobody ? asNobody(args) : args,
                          {{"VENTORAL_SYSFS_ROOT", machine.root()},
                           {"VENTORAL_SMC_PROFILE", ""},
                           {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent"}});
    }
    SysfsFixture machine;
    const std::string pwm = "devices/platform/thinkpad_hwmon/hwmon/hwmon4/pwm1";
};

TEST_F(HelperProgram, CommandsDriveTheFixtureMachine) {
    auto ping = helperRun({"ping"});
    EXPECT_EQ(ping.exitStatus, 0);
    EXPECT_EQ(ping.out, "PONG\n");

    auto status = helperRun({"status"});
    EXPECT_EQ(status.exitStatus, 0);
    EXPECT_EQ(status.out, "EUID: 0 | Root: true | Fans: 1\n");

    EXPECT_EQ(helperRun({"set-rpm", "0", "6500"}).exitStatus, 0);
    EXPECT_EQ(machine.read(pwm + "_enable"), "1");
    EXPECT_EQ(machine.read(pwm), "255");

    EXPECT_EQ(helperRun({"reset-auto"}).exitStatus, 0);
    EXPECT_EQ(machine.read(pwm + "_enable"), "2"); // the driver's own mode, as found

    auto usage = helperRun({"set-rpm", "0"});
    EXPECT_EQ(usage.exitStatus, 1);
    EXPECT_EQ(usage.err, "Usage: VentoralHelper set-rpm <index> <rpm>\n");
    EXPECT_EQ(helperRun({"set-rpm", "16", "2000"}).exitStatus, 2);
    EXPECT_EQ(helperRun({"bogus"}).err, "Unknown command: bogus\n");
}

TEST_F(HelperProgram, AnOrdinaryUserIsRefused) {
    auto status = helperRun({"status"}, true);
    EXPECT_EQ(status.exitStatus, 1);
    EXPECT_EQ(status.out, "EUID: 65534 | Root: false | Fans: 1\n");

    auto write = helperRun({"set-rpm", "0", "6500"}, true);
    EXPECT_EQ(write.exitStatus, 2);
    EXPECT_EQ(machine.read(pwm), "128");
    EXPECT_EQ(machine.read(pwm + "_enable"), "2");

    TemporaryFolder prefix;
    auto install =
        runCommand(asNobody({helper, "install"}), {{"VENTORAL_ROOT_PREFIX", prefix.path()}});
    EXPECT_EQ(install.exitStatus, 1);
    EXPECT_EQ(install.err, "Error: Helper installation requires root privileges.\n");
    EXPECT_TRUE(fs::is_empty(prefix.path()));
}

TEST_F(HelperProgram, LowPowerModeFallsBackToThePlatformProfile) {
    machine.write("firmware/acpi/platform_profile_choices", "low-power balanced performance");
    machine.write("firmware/acpi/platform_profile", "balanced");
    // The bus is unreachable, so no profile daemon can own the profile.
    EXPECT_EQ(helperRun({"set-lpm", "on"}).exitStatus, 0);
    EXPECT_EQ(machine.read("firmware/acpi/platform_profile"), "low-power");
    EXPECT_EQ(helperRun({"set-lpm", "0"}).exitStatus, 0);
    EXPECT_EQ(machine.read("firmware/acpi/platform_profile"), "balanced");

    machine.remove("firmware/acpi/platform_profile_choices");
    EXPECT_EQ(helperRun({"set-lpm", "1"}).exitStatus, 2);
}

// The copies come from the running program itself, whatever its caller put in argv[0].
TEST_F(HelperProgram, InstallCopiesItsOwnExecutable) {
    TemporaryFolder prefix;
    const std::string decoy = prefix.path() + "/decoy";
    std::ofstream(decoy) << "not the helper";
    auto install = runCommand({"/bin/bash", "-c", "exec -a \"$0\" \"$1\" install", decoy, helper},
                              {{"VENTORAL_ROOT_PREFIX", prefix.path()}});
    EXPECT_EQ(install.exitStatus, 0) << install.err;
    const std::string copy = prefix.path() + "/usr/local/bin/VentoralHelper";
    EXPECT_EQ(fs::file_size(copy), fs::file_size(helper));
    EXPECT_EQ(fs::status(copy).permissions() & fs::perms::set_uid, fs::perms::set_uid);
    EXPECT_TRUE(fs::exists(prefix.path() + "/etc/systemd/system/com.tesvane.smchelper.service"));
    EXPECT_EQ(install.out, "VentoralHelper installed successfully to " + prefix.path() +
                               "/usr/local/libexec/com.tesvane.smchelper with setuid root.\n");
}

// A set-user-id copy must ignore every test setting: its hardware is the fixture fixed when it
// was built, whatever the caller's environment says.
TEST_F(HelperProgram, ASetuidCopyIgnoresTheCallersSettings) {
    SysfsFixture fixed(VENTORAL_SETUID_FIXTURE_ROOT);
    applesmcLaptop(fixed);
    fixed.write(".session", "active local"); // the fixture build's stand-in for logind
    TemporaryFolder folder;
    const std::string copy = folder.path() + "/VentoralHelper";
    fs::copy_file(VENTORAL_HELPER_FIXTURE_PATH, copy);
    ASSERT_EQ(::chown(copy.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(copy.c_str(), 04755), 0);

    const EnvironmentChanges hostile{
        {"VENTORAL_SYSFS_ROOT", machine.root()},
        {"VENTORAL_SMC_PROFILE",
         std::string(VENTORAL_SOURCE_DIR) + "/platform/smc/profiles/two-fan-laptop.json"},
        {"VENTORAL_ROOT_PREFIX", folder.path()},
        {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent"}};
    auto status = runCommand(asNobody({copy, "status"}), hostile);
    if (status.out.rfind("EUID: 65534", 0) == 0) {
        GTEST_SKIP() << "this file system does not honour set-user-id";
    }
    EXPECT_EQ(status.exitStatus, 0);
    EXPECT_EQ(status.out, "EUID: 0 | Root: true | Fans: 2\n");

    EXPECT_EQ(runCommand(asNobody({copy, "set-rpm", "1", "2500"}), hostile).exitStatus, 0);
    const std::string smc = "devices/platform/applesmc.768/";
    EXPECT_EQ(fixed.read(smc + "fan2_manual"), "1");
    EXPECT_EQ(fixed.read(smc + "fan2_output"), "2500");

    // Outside an active local session (over SSH, say) the copy refuses to drive fans.
    fixed.write(".session", "remote");
    auto remote = runCommand(asNobody({copy, "set-rpm", "0", "3000"}), hostile);
    EXPECT_EQ(remote.exitStatus, 1);
    EXPECT_EQ(remote.err, "Not authorized to control the fans: that needs an active local "
                          "session or an administrator's password\n");
    EXPECT_EQ(fixed.read(smc + "fan1_manual"), "0");
    EXPECT_EQ(machine.read(pwm), "128");
    EXPECT_EQ(machine.read(pwm + "_enable"), "2");
}

} // namespace
} // namespace ventoral
