#include "application/shell/VerificationReport.h"

#include "core/common/DefaultsStore.h"
#include "platform/smc/EmulatedSmcTransport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SysfsFixture.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

namespace fs = std::filesystem;
using namespace ventoral::testing;

// The controller run as a program, from a folder of its own so no build tree is near.
class ControllerProgram : public ::testing::Test {
protected:
    void SetUp() override {
        program = folder.path() + "/VentoralController";
        fs::copy_file(VENTORAL_CONTROLLER_PATH, program);
        std::ofstream(proc.path() + "/uptime") << "100.0 100.0\n";
    }
    CommandResult run(const std::vector<std::string>& arguments, EnvironmentChanges env = {}) {
        std::string line = "cd '" + folder.path() + "' && exec ./VentoralController";
        for (const auto& a : arguments) {
            line += " '" + a + "'";
        }
        env.emplace("VENTORAL_SYSFS_ROOT", machine.root());
        env.emplace("VENTORAL_PROC_ROOT", proc.path());
        env.emplace("VENTORAL_ROOT_PREFIX", folder.path() + "/prefix");
        env.emplace("XDG_CONFIG_HOME", folder.path() + "/config");
        env.emplace("XDG_RUNTIME_DIR", folder.path() + "/runtime");
        env.emplace("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent");
        env.emplace("VENTORAL_SMC_PROFILE", "");
        return runCommand({"/bin/sh", "-c", line}, env);
    }
    TemporaryFolder folder, proc;
    SysfsFixture machine;
    std::string program;
};

const char* const simulationAndPrivileges = R"(
=== SIMULATION FALLBACK VERIFICATION ===
Simulated Fans Count: 2
  • [Left Fan (CPU)] Current: 2150.0 RPM | Target: 2150 RPM
  • [Right Fan (GPU)] Current: 2200.0 RPM | Target: 2200 RPM
Simulated CPU Temp: 48.4°C

=== PRIVILEGED SMC WRITER STATUS ===
Running as root: true
Privilege Mode:  Direct Root (Full Hardware Access)
SMAppService Daemon Status: not found
Helper Binary: NOT FOUND

ALL HARDWARE, POWER & SIMULATION CHECKS PASSED.
)";

TEST_F(ControllerProgram, ReportOnAFanlessMachine) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "the golden text is root's view";
    }
    fanlessMachine(machine);
    auto r = run({"--verify"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, std::string(R"(=== VENTORAL CONTROLLER: HARDWARE TELEMETRY & VERIFICATION ===
Hardware AppleSMC Fan Count: 0
Thermal Sensors Detected: 2
  • CPU Average: 47.0°C
  • GPU Peak:    44.6°C
  • ANE (Neural):42.3°C

=== BATTERY & POWER TELEMETRY VERIFICATION ===
  • Battery Present: false | Charge: 100% | Connected: false | Charging: false
  • Summary: AC Power — Connected to external power
  • System Load (PSTR): N/A
  • Adapter Input (PDTR): 0.0 W | Port: N/A | Rated: N/A
  • Battery Rail: N/A × N/A = N/A
  • Display Backlight: N/A | SoC Package: N/A
  • Health Max Capacity: N/A | Condition: N/A | Cycles: N/A | Temp: N/A

=== PRESET ENGINE VERIFICATION ===
)") + simulationAndPrivileges);
}

TEST_F(ControllerProgram, ReportOnTheEmulatedLaptopAndAFixtureLaptop) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "the golden text is root's view";
    }
    auto emulated =
        run({"--verify"},
            {{"VENTORAL_SMC_PROFILE", std::string(VENTORAL_SOURCE_DIR) + "/platform/smc/profiles/"
                                                                         "two-fan-laptop.json"}});
    EXPECT_EQ(emulated.exitStatus, 0);
    EXPECT_NE(emulated.out.find("Hardware AppleSMC Fan Count: 2\n"
                                "  • [Left Fan (CPU)] Current: 2150.0 RPM | Bounds: [1200 - 6000] "
                                "RPM | Mode: System Auto\n"),
              std::string::npos)
        << emulated.out;
    EXPECT_NE(emulated.out.find("  • System Load (PSTR): 14.2 W\n"), std::string::npos);
    EXPECT_NE(emulated.out.find("  • Preset [Auto (System)]: Target RPM = "), std::string::npos);
    EXPECT_NE(emulated.out.find("  • Preset [Max (Full Blast)]: Target RPM = 6000 | Mode = "
                                "Manual Forced\n"),
              std::string::npos)
        << emulated.out;

    usbCChargingLaptop(machine);
    auto laptop = run({"--verify"});
    EXPECT_EQ(laptop.exitStatus, 0);
    EXPECT_NE(laptop.out.find("  • Battery Present: true | Charge: 55% | Connected: true | "
                              "Charging: true\n"),
              std::string::npos)
        << laptop.out;
    EXPECT_NE(laptop.out.find("  • Adapter Input (PDTR): 45.0 W | Port: USB-C PD | Rated: 65 W\n"),
              std::string::npos)
        << laptop.out;
    EXPECT_NE(laptop.out.find("  • Battery Rail: 16.80 V × +1.80 A = +30.24 W\n"),
              std::string::npos)
        << laptop.out;
    EXPECT_NE(laptop.out.find("Condition: Normal | Cycles: 87"), std::string::npos);
}

TEST_F(ControllerProgram, ADesktopsFansByTheirHardwareNamesAndWhereTheirLimitsComeFrom) {
    nct6775Desktop(machine);
    auto desktop = run({"--verify"});
    EXPECT_EQ(desktop.exitStatus, 0);
    EXPECT_NE(desktop.out.find("  • [GPU Fan (amdgpu)] Current: 1100.0 RPM | Bounds: [0 - 3300] "
                               "RPM | Mode: System Auto\n"
                               "  • [nct6775 Fan 1] Current: 900.0 RPM | Bounds: [1200 - 6500] "
                               "RPM | Mode: System Auto\n"),
              std::string::npos)
        << desktop.out;
    EXPECT_NE(desktop.out.find("  • Limits: [GPU Fan (amdgpu)] 0 - 3300 RPM, given by the driver\n"
                               "  • Limits: [nct6775 Fan 1] 1200 - 6500 RPM, assumed; not "
                               "calibrated (VentoralHelper calibrate 1)\n"),
              std::string::npos)
        << desktop.out;
}

TEST_F(ControllerProgram, ModesAreMatchedExactlyAndHelpIsOffered) {
    fanlessMachine(machine);
    auto both = run({"--install-helper", "--verify"}); // the report wins
    EXPECT_EQ(both.out.rfind("=== VENTORAL CONTROLLER: HARDWARE TELEMETRY", 0), 0u);
    auto help = run({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("Usage: VentoralController"), std::string::npos);
    auto unprivileged = runCommand({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                    "--clear-groups", program, "--install-helper"});
    if (geteuid() == 0) {
        EXPECT_EQ(unprivileged.exitStatus, 1);
        EXPECT_EQ(unprivileged.out,
                  "=== VENTORAL CONTROLLER: INSTALLING PRIVILEGED HELPER ===\n"
                  "Error: Helper installation requires running as root (e.g. sudo " +
                      program + " --install-helper).\n");
    }
}

TEST_F(ControllerProgram, ARunThatCannotWriteFansSaysWhyOnce) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "the controller runs as nobody";
    }
    thinkpadLaptop(machine);
    // A helper beside the program, but not set-user-id, and no sudo to run it as root.
    fs::copy_file(VENTORAL_HELPER_PATH, folder.path() + "/VentoralHelper");
    BackgroundProcess controller(
        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", program},
        {{"VENTORAL_SYSFS_ROOT", machine.root()},
         {"VENTORAL_PROC_ROOT", proc.path()},
         {"VENTORAL_ROOT_PREFIX", folder.path() + "/prefix"},
         {"XDG_CONFIG_HOME", folder.path() + "/config"},
         {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent"},
         {"VENTORAL_SMC_PROFILE", ""},
         {"DISPLAY", ""},
         {"WAYLAND_DISPLAY", ""},
         {"QT_QPA_PLATFORM", ""}});
    const std::string message = "VentoralController: Fan control requires administrator "
                                "privileges. Click 'Authorize Fan Control' to enable.\n";
    EXPECT_TRUE(
        waitUntil([&] { return controller.errorOutput().find(message) != std::string::npos; }, 10))
        << controller.errorOutput();
    EXPECT_EQ(controller.stop(SIGTERM), 0);
    EXPECT_EQ(controller.errorOutput(), message);
}

// The report's edge cases, over fakes.
struct Sources final : PowerSourceProvider {
    std::optional<std::vector<LooseDictionary>> powerSourceDescriptions() override {
        return std::nullopt;
    }
    std::optional<LooseDictionary> externalAdapterDetails() override { return adapter; }
    LooseDictionary batteryRegistry() override { return {}; }
    std::optional<LooseDictionary> adapter;
};

EmulatedSmcTransport::Key flt(double value) {
    return {"flt ", EmulatedSmcTransport::encodeNumber(value, "flt ", 4), false, false, 0};
}

std::string report(std::optional<std::int64_t> rated, double volts,
                   std::map<std::string, EmulatedSmcTransport::Key> keys = {},
                   const std::vector<std::string>& contested = {}) {
    SMCService smc(std::make_unique<EmulatedSmcTransport>(keys, true));
    auto sources = std::make_shared<Sources>();
    if (rated) {
        sources->adapter = LooseDictionary{{"Watts", *rated}};
    }
    PowerBatteryPlatform p;
    p.powerSources = sources;
    p.readPowerSensors = [volts] {
        SMCPowerReadings r;
        r.batteryVolts = volts;
        r.batteryAmps = 1.5;
        return r;
    };
    p.now = systemWallClock();
    auto power = PowerBatteryService::make(p);
    FanPresetManager presets(std::make_shared<InMemoryDefaultsStore>());
    FanSimulationService sim;
    TemporaryFolder prefix;
    PrivilegedWriterPlatform w;
    w.rootPrefix = prefix.path();
    w.effectiveUid = [] { return uid_t{1000}; };
    w.smc = [&]() -> SMCService& { return smc; };
    auto writer = PrivilegedSMCWriter::make(w);
    TemporaryFolder runtime;
    ContestedFansNote note(runtime.path());
    note.write(contested);
    VerificationSources s{smc, *power, presets, sim, *writer, 1000, systemWallClock(), note};
    std::ostringstream out;
    writeVerificationReport(out, s);
    return out.str();
}

TEST(VerificationReport, RatedWattsAndAVoltageThatIsNotANumber) {
    EXPECT_NE(report(std::nullopt, 12.1).find("| Rated: N/A\n"), std::string::npos);
    EXPECT_NE(report(96, 12.1).find("| Rated: 96 W\n"), std::string::npos);
    EXPECT_NE(report(96, 12.1).find("  • Battery Rail: 12.10 V × +1.50 A = +18.15 W\n"),
              std::string::npos);
    EXPECT_NE(report(96, std::nan("")).find("  • Battery Rail: — × +1.50 A = N/A\n"),
              std::string::npos);
    // A fan whose maximum is 2449.5: Max asks for it, printed rounded half away from zero.
    const std::string fan = report(std::nullopt, 12,
                                   {{"FNum", {"ui8 ", {1}, false, false, 0}},
                                    {"F0Mn", flt(1200)},
                                    {"F0Mx", flt(2449.5)},
                                    {"F0Ac", flt(1300)}});
    EXPECT_NE(fan.find("  • Preset [Max (Full Blast)]: Target RPM = 2450 | Mode = Manual Forced\n"),
              std::string::npos)
        << fan;
    EXPECT_NE(fan.find("Bounds: [1200 - 2449] RPM"), std::string::npos); // truncated
    const std::string user = report(std::nullopt, 12);
    EXPECT_NE(user.find("Running as root: false\nPrivilege Mode:  Authorization Required "
                        "(Read-Only)\n"),
              std::string::npos);
}

TEST(VerificationReport, FansLeftToAnotherProgramAreNamed) {
    const std::string why = "Another program is also controlling Main Fan: it changed the fan "
                            "twice after Ventoral set it.";
    const std::string text = report(
        std::nullopt, 12, {{"FNum", {"ui8 ", {1}, false, false, 0}}, {"F0Ac", flt(1300)}}, {why});
    EXPECT_NE(text.find("  \u2022 [Main Fan] Current: 1300.0 RPM"), std::string::npos) << text;
    EXPECT_NE(text.find("  \u2022 Not written: " + why + "\n"), std::string::npos) << text;
    EXPECT_EQ(report(std::nullopt, 12).find("Not written"), std::string::npos);
}

TEST(HelperInstallCommand, StatusesAndTheRealInstaller) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "installing needs root";
    }
    SMCService smc(std::make_unique<EmulatedSmcTransport>());
    auto writerWith = [&](const std::string& prefix, const std::string& ownFolder) {
        PrivilegedWriterPlatform w;
        w.rootPrefix = prefix;
        w.effectiveUid = [] { return uid_t{0}; };
        w.smc = [&]() -> SMCService& { return smc; };
        w.ownExecutableFolder = ownFolder;
        return PrivilegedSMCWriter::make(w);
    };
    TemporaryFolder failing;
    const std::string fake = failing.path() + "/usr/local/bin/VentoralHelper";
    fs::create_directories(fs::path(fake).parent_path());
    std::ofstream(fake) << "#!/bin/sh\n[ \"$1\" = install ] && exit 3\nexit 9\n";
    ::chmod(fake.c_str(), 0755);
    std::ostringstream out;
    EXPECT_EQ(installHelper(out, *writerWith(failing.path(), ""), 0, "VentoralController"), 3);
    EXPECT_EQ(out.str(), "=== VENTORAL CONTROLLER: INSTALLING PRIVILEGED HELPER ===\n"
                         "Helper installation failed with exit code: 3\n");

    TemporaryFolder empty;
    std::ostringstream missing;
    EXPECT_EQ(installHelper(missing, *writerWith(empty.path(), ""), 0, "x"), 1);
    EXPECT_NE(missing.str().find("Error: Could not locate VentoralHelper binary.\n"),
              std::string::npos);

    // The real helper, found beside the program, installs into a prefix.
    TemporaryFolder prefix;
    std::ostringstream real;
    {
        ScopedEnvironmentVariable rootPrefix("VENTORAL_ROOT_PREFIX", prefix.path());
        EXPECT_EQ(installHelper(real,
                                *writerWith(empty.path(),
                                            fs::path(VENTORAL_HELPER_PATH).parent_path().string()),
                                0, "x"),
                  0);
    }
    EXPECT_NE(real.str().find("Privileged helper installation succeeded!\n"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat((prefix.path() + "/usr/local/bin/VentoralHelper").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 04755u);
}

} // namespace
} // namespace ventoral
