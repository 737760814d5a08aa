#include "application/privileged/PrivilegedSMCWriter.h"

#include "tests/application/privileged/WriterRig.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace testing;

TEST(PrivilegedWriteMode, Texts) {
    for (Mode mode : allPrivilegedWriteModes) {
        EXPECT_EQ(privilegedWriteModeFromRaw(rawValue(mode)), mode);
    }
    EXPECT_EQ(rawValue(Mode::unauthorized), "Authorization Required (Read-Only)");
    EXPECT_EQ(privilegedWriteModeFromRaw("Root"), std::nullopt);
}

TEST(PrivilegedSMCWriter, Texts) {
    EXPECT_EQ(shellQuoted("/opt/it's/VentoralHelper"), "'/opt/it'\\''s/VentoralHelper'");
    const std::pair<float, const char*> speeds[] = {
        {1800, "1800.0"}, {1800.5f, "1800.5"}, {0.1f, "0.1"}, {0, "0.0"}, {-3, "-3.0"}};
    for (auto [rpm, text] : speeds) {
        EXPECT_EQ(shortestSpeedText(rpm), text);
    }
    EXPECT_TRUE(isValidUTF8("caf\xC3\xA9"));
    EXPECT_FALSE(isValidUTF8("caf\xC3"));
    EXPECT_FALSE(isValidUTF8("\xFF"));
}

TEST(PrivilegedSMCWriter, PkexecOutcomes) {
    TemporaryFolder folder;
    const std::string pkexec = folder.path() + "/pkexec";
    struct Case {
        std::string body;
        ElevationOutcome::Kind kind;
        std::string message;
    };
    const Case cases[] = {
        {"[ \"$1 $2\" = \"/bin/sh -c\" ] && exec /bin/sh -c \"$3\"\n",
         ElevationOutcome::Kind::succeeded, ""},
        {"exit 126\n", ElevationOutcome::Kind::failed, "The administrator prompt was dismissed."},
        {"echo 'Error executing command as another user: Not authorized' >&2; exit 127\n",
         ElevationOutcome::Kind::failed, "Error executing command as another user: Not authorized"},
        {"exit 127\n", ElevationOutcome::Kind::unavailable, ""},
    };
    for (const auto& c : cases) {
        writeScript(pkexec, c.body);
        auto outcome = runWithPkexec(pkexec, "exit 0");
        EXPECT_EQ(outcome.kind, c.kind) << c.body;
        EXPECT_EQ(outcome.message, c.message) << c.body;
    }
    EXPECT_EQ(runWithPkexec(folder.path() + "/missing", "true").kind,
              ElevationOutcome::Kind::unavailable);
}

TEST(PrivilegedSMCWriter, ModeDecision) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> layout;
        Mode mode;
    };
    const Case cases[] = {
        {"nothing installed", [](Rig&) {}, Mode::unauthorized},
        {"only a set-user-id helper", [](Rig& r) { r.helper(r.writer()->localBinPath(), 04755); },
         Mode::privilegedHelper},
        {"installed, unit not enabled", [](Rig& r) { r.installed(true, "disabled"); },
         Mode::privilegedHelper},
        {"installed and enabled", [](Rig& r) { r.installed(true, "enabled"); }, Mode::xpcDaemon},
        {"unit present, helper root's but not set-user-id",
         [](Rig& r) { r.installed(false, "disabled"); }, Mode::xpcDaemon},
        {"unit present, helper not root's",
         [](Rig& r) {
             r.installed(false, "enabled");
             ASSERT_EQ(::chown(r.writer()->helperInstalledPath().c_str(), 65534, 65534), 0);
             ASSERT_EQ(::chown(r.writer()->localBinPath().c_str(), 65534, 65534), 0);
         },
         Mode::unauthorized},
        {"a build helper only (runs through sudo)", [](Rig& r) { r.helper(r.buildHelper(), 0755); },
         Mode::unauthorized},
    };
    if (geteuid() != 0) {
        GTEST_SKIP() << "files owned by root need root";
    }
    for (const auto& c : cases) {
        Rig rig;
        c.layout(rig);
        EXPECT_EQ(rig.writer()->checkPrivilegeStatus(), c.mode) << c.name;
    }
    Rig root(0);
    EXPECT_EQ(root.writer()->checkPrivilegeStatus(), Mode::directRoot);
}

TEST(PrivilegedSMCWriter, ArgumentErrorsAndTheRootRouteCompleteAtOnce) {
    Rig user;
    Outcome bad;
    user.writer()->setFanRPM(16, 2000, bad.completion());
    EXPECT_EQ(bad.calls, 1);
    EXPECT_EQ(bad.thread, std::this_thread::get_id());
    EXPECT_EQ(describe(bad.result), "Invalid fan index or RPM value");
    Outcome nan;
    user.writer()->setFanRPM(0, std::nanf(""), nan.completion());
    EXPECT_EQ(describe(nan.result), "Invalid fan index or RPM value");
    Outcome badMode;
    user.writer()->setFanMode(-1, FanMode::manual, badMode.completion());
    EXPECT_EQ(describe(badMode.result), "Invalid fan index");

    Rig root(0);
    Outcome write;
    root.writer()->setFanRPM(1, 2000, write.completion());
    EXPECT_EQ(write.calls, 1); // before the call returned
    EXPECT_EQ(write.result, std::nullopt);
    EXPECT_EQ(root.smcWrites, (std::vector<std::string>{"F1Md", "FS! ", "F1Tg"}));
    root.smcWrites.clear();
    Outcome reset;
    root.writer()->restoreAllFansToAuto(reset.completion());
    EXPECT_EQ(reset.calls, 1);
    EXPECT_EQ(root.smcWrites, (std::vector<std::string>{"F0Md", "FS! ", "F1Md", "FS! ", "FS! "}));
    root.main.pumpUntil([] { return false; }, 0.05);
    EXPECT_EQ(write.calls, 1); // and never again
}

TEST(PrivilegedSMCWriter, HelperCommands) {
    struct Case {
        const char* name;
        std::string then;
        bool needsPassword;
        std::string result;
    };
    const Case cases[] = {
        {"success", "exit 0\n", false, "success"},
        {"usage line", "echo '  Usage: VentoralHelper set-rpm <index> <rpm>  '; exit 1\n", false,
         "Usage: VentoralHelper set-rpm <index> <rpm>"},
        {"silent failure", "exit 5\n", false, "Helper exit code: 5"},
        {"hardware refused", "exit 2\n", false,
         "Root privileges required to modify SMC fan registers"},
        {"sudo wants a password", "exit 0\n", true,
         "Root privileges required to modify SMC fan registers"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.helper(rig.buildHelper(), 0755, c.then);
        if (c.needsPassword) {
            std::ofstream(rig.prefix() + "/sudo-needs-password");
        }
        Outcome o;
        rig.writer()->setFanRPM(1, 1800, o.completion());
        EXPECT_EQ(o.calls, 0) << c.name; // later, on the main thread
        rig.wait(o);
        EXPECT_EQ(o.calls, 1) << c.name;
        EXPECT_EQ(o.thread, std::this_thread::get_id());
        EXPECT_EQ(describe(o.result), c.result) << c.name;
        if (!c.needsPassword) {
            EXPECT_EQ(rig.log(), "set-rpm 1 1800.0\n") << c.name;
        }
    }
    // A helper that is not set-user-id and no sudo to run it: nothing is started.
    Rig noSudo;
    noSudo.helper(noSudo.buildHelper(), 0755);
    ::unlink((noSudo.prefix() + "/usr/bin/sudo").c_str());
    Outcome refused;
    noSudo.writer()->setFanRPM(1, 1800, refused.completion());
    noSudo.wait(refused);
    EXPECT_EQ(describe(refused.result), "Root privileges required to modify SMC fan registers");
    EXPECT_EQ(noSudo.log(), "");

    Rig none;
    Outcome missing;
    none.writer()->restoreAllFansToAuto(missing.completion());
    none.wait(missing);
    EXPECT_EQ(describe(missing.result),
              "VentoralHelper binary not found. Please click 'Authorize Fan Control'.");
}

TEST(PrivilegedSMCWriter, CalibrationByTheHelperAndAsRoot) {
    struct Case {
        const char* name;
        std::string then;
        bool needsPassword;
        FanCalibrationOutcome outcome;
    };
    const Case cases[] = {
        {"measured",
         "echo 'Calibrating fan 2'; echo 'Fan 2 50%: duty 128: 900 RPM'; "
         "echo 'nct6775 Fan 2: 410 to 1850 RPM, from duty 72.'\n",
         false,
         {true, "nct6775 Fan 2: 410 to 1850 RPM, from duty 72."}},
        {"stopped",
         "echo 'nct6775 Fan 2: calibration stopped: the CPU reached 86 C.' >&2; exit 2\n",
         false,
         {false, "nct6775 Fan 2: calibration stopped: the CPU reached 86 C."}},
        {"silent failure", "exit 5\n", false, {false, "Helper exit code: 5"}},
        {"sudo wants a password",
         "exit 0\n",
         true,
         {false, "Root privileges required to modify SMC fan registers"}},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.helper(rig.buildHelper(), 0755, c.then);
        if (c.needsPassword) {
            std::ofstream(rig.prefix() + "/sudo-needs-password");
        }
        std::vector<std::string> progress;
        std::optional<FanCalibrationOutcome> outcome;
        rig.writer()->calibrateFan(
            2, [&](double, const std::string& message) { progress.push_back(message); },
            [&](const FanCalibrationOutcome& o) { outcome = o; });
        ASSERT_TRUE(rig.main.pumpUntil([&] { return outcome.has_value(); })) << c.name;
        EXPECT_EQ(*outcome, c.outcome) << c.name;
        ASSERT_EQ(progress.size(), 2u) << c.name;
        EXPECT_EQ(progress[1], PrivilegedWriterText::calibrationByHelper) << c.name;
        if (!c.needsPassword) {
            EXPECT_EQ(rig.log(), "calibrate 2\n") << c.name;
        }
    }

    // As root the controller itself is asked; this one reports every fan's limits.
    Rig root(0);
    std::optional<FanCalibrationOutcome> outcome;
    root.writer()->calibrateFan(1, {}, [&](const FanCalibrationOutcome& o) { outcome = o; });
    ASSERT_TRUE(root.main.pumpUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(outcome->message,
              "Fan 1 needs no calibration: this controller reports its own limits");
    EXPECT_EQ(root.log(), "");
}

TEST(PrivilegedSMCWriter, SynchronousReset) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "a set-user-id fake needs root";
    }
    // Nothing can restore the fans: no waiting out the bound.
    Rig unauthorized;
    auto start = Clock::now();
    unauthorized.writer()->restoreAllFansToAutoSynchronously(10);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));

    // A helper that hangs until the test releases it: the reset gives up at its bound.
    Rig hanging;
    const std::string release = hanging.prefix() + "/release";
    hanging.helper(hanging.writer()->localBinPath(), 04755,
                   "i=0\nuntil [ -e '" + release + "' ] || [ $i -ge 600 ]; do\n  sleep 0.05\n" +
                       "  i=$((i + 1))\ndone\necho released >> '" + hanging.root_.path() +
                       "/helper.log'\n");
    start = Clock::now();
    hanging.writer()->restoreAllFansToAutoSynchronously(1.5);
    auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1450));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    std::ofstream(release).flush();
    EXPECT_TRUE(waitUntil([&] { return hanging.log() == "reset-auto\nreleased\n"; }, 10))
        << hanging.log();

    Rig quick;
    quick.helper(quick.writer()->localBinPath(), 04755);
    quick.writer()->restoreAllFansToAutoSynchronously(1.5);
    EXPECT_EQ(quick.log(), "reset-auto\n");
}

TEST(PrivilegedSMCWriter, AuthorizationQuotesThePathAndMakesTheBusEligibleAgain) {
    Rig rig;
    rig.helper(rig.buildHelper(), 0755);
    Outcome o;
    rig.writer()->authorize(o.completion());
    rig.wait(o);
    EXPECT_EQ(describe(o.result), "success");
    ASSERT_EQ(rig.elevated.size(), 1u);
    // The command survives the shell: the apostrophe in the folder name included.
    auto run = runCommand({"/bin/sh", "-c", rig.elevated[0]});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(rig.log(), "install\n");
    EXPECT_NE(readFile(rig.prefix() + "/systemctl.log").find("enable --now com.tesvane.smchelper"),
              std::string::npos);

    struct Case {
        ElevationOutcome outcome;
        std::string result;
    };
    const Case refusals[] = {
        {{ElevationOutcome::Kind::failed, "The administrator prompt was dismissed."},
         "The administrator prompt was dismissed."},
        {{ElevationOutcome::Kind::failed, ""},
         "Root privileges required to modify SMC fan registers"},
        {{ElevationOutcome::Kind::unavailable, ""},
         "Root privileges required to modify SMC fan registers"},
    };
    for (const auto& c : refusals) {
        Rig refused;
        refused.helper(refused.buildHelper(), 0755);
        refused.elevation = [&](const std::string&) { return c.outcome; };
        Outcome r;
        refused.writer()->authorize(r.completion());
        refused.wait(r);
        EXPECT_EQ(describe(r.result), c.result);
    }
    Rig nothing;
    Outcome n;
    nothing.writer()->authorize(n.completion());
    nothing.wait(n);
    EXPECT_EQ(describe(n.result), "VentoralHelper executable could not be located.");
}

TEST(PrivilegedSMCWriter, AuthorizedMachinesAreNotAskedAgain) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "a set-user-id fake needs root";
    }
    Rig rig;
    rig.installed(true, "enabled");
    Outcome o;
    rig.writer()->authorize(o.completion());
    EXPECT_EQ(o.calls, 1);
    EXPECT_TRUE(rig.elevated.empty());
}

TEST(PrivilegedSMCWriter, LowPowerModeWithoutRightsAsksOnceForBoth) {
    Rig rig;
    rig.helper(rig.buildHelper(), 0755);
    Outcome o;
    rig.writer()->setLowPowerMode(true, o.completion());
    rig.wait(o);
    EXPECT_EQ(describe(o.result), "success");
    ASSERT_EQ(rig.elevated.size(), 1u);
    const std::string helper = shellQuoted(rig.buildHelper());
    EXPECT_EQ(rig.elevated[0], helper + " install && " + helper + " set-lpm 1");

    Rig root(0);
    root.machine.write("firmware/acpi/platform_profile_choices", "low-power balanced");
    root.machine.write("firmware/acpi/platform_profile", "balanced");
    Outcome r;
    root.writer()->setLowPowerMode(true, r.completion());
    root.wait(r);
    EXPECT_EQ(describe(r.result), "success");
    EXPECT_EQ(root.machine.read("firmware/acpi/platform_profile"), "low-power");
}

TEST(PrivilegedSMCWriter, RepeatedPrivilegeChecksAskSystemdOnce) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "files owned by root need root";
    }
    Rig rig;
    rig.installed(true, "disabled");
    for (int tick = 0; tick < 5; ++tick) {
        EXPECT_EQ(rig.writer()->checkPrivilegeStatus(), Mode::privilegedHelper);
    }
    Outcome o;
    rig.writer()->setFanMode(0, FanMode::automatic, o.completion());
    rig.wait(o);
    const std::string log = readFile(rig.prefix() + "/systemctl.log");
    EXPECT_EQ(log, "is-enabled com.tesvane.smchelper.service\n");
}

} // namespace
} // namespace ventoral
