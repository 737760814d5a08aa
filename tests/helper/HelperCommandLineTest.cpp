#include "helper/cli/HelperCommandLine.h"

#include "platform/smc/EmulatedSmcTransport.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>
#include <sstream>

namespace ventoral {
namespace {

using Key = EmulatedSmcTransport::Key;
using testing::TemporaryFolder;

Key number(const std::string& type, double value) {
    std::size_t size = type == "flt " ? 4 : type == "ui8 " ? 1 : 2;
    return {type, EmulatedSmcTransport::encodeNumber(value, type, size), true, true, 0};
}

struct Run {
    int status;
    std::string out, err;
    std::optional<bool> lowPower;
    bool daemonStarted;
};

// `ruid`: the real user of a set-user-id run; by default the effective one. `stateFolder`: where
// the backstop's holds are kept; `package`: the CPU package's reading.
Run run(std::vector<std::string> args, uid_t euid = 0, bool installSucceeds = true,
        std::optional<uid_t> ruid = std::nullopt, const std::string& stateFolder = "",
        double package = 60) {
    std::ostringstream out, err;
    ThermalHold hold(stateFolder);
    std::optional<bool> lowPower;
    bool daemon = false;
    HelperServices services{
        [euid, package] {
            return std::make_unique<DirectSMCOperator>(std::make_unique<EmulatedSmcTransport>(
                std::map<std::string, Key>{{"FNum", number("ui8 ", 2)},
                                           {"TC0P", number("flt ", package)},
                                           {"F0Md", number("ui8 ", 0)},
                                           {"F0Tg", number("flt ", 0)},
                                           {"F1Md", number("ui8 ", 0)}},
                euid == 0));
        },
        [&](bool enabled) {
            lowPower = enabled;
            return true;
        },
        [&] { return installSucceeds; },
        [&](DirectSMCOperator&) {
            daemon = true;
            return 0;
        },
        euid,
        ruid.value_or(euid),
        hold,
        [ruid](const char*) { return !ruid || *ruid != 4000; }, // user 4000 is logged in remotely
        out,
        err,
    };
    int status = runHelperCommandLine(args, services);
    return {status, out.str(), err.str(), lowPower, daemon};
}

TEST(HelperCommandLine, CommandsStatusesAndStreams) {
    const std::string rpmUsage = "Usage: VentoralHelper set-rpm <index> <rpm>\n";
    const std::string modeUsage = "Usage: VentoralHelper set-mode <index> <mode>\n";
    struct Case {
        std::vector<std::string> args;
        uid_t euid;
        int status;
        std::string out, err;
    };
    const std::vector<Case> cases{
        {{"ping"}, 501, 0, "PONG\n", ""},
        {{"status"}, 0, 0, "EUID: 0 | Root: true | Fans: 2\n", ""},
        {{"status"}, 501, 1, "EUID: 501 | Root: false | Fans: 2\n", ""},
        {{"set-rpm", "0", "2000"}, 0, 0, "", ""},
        {{"set-rpm", "+1", "1800.0"}, 0, 2, "", ""}, // fan 1 has no target key
        {{"set-rpm", "0", "2000"}, 501, 2, "", ""},
        {{"set-rpm", "16", "2000"}, 0, 2, "", ""},
        {{"set-rpm", "0", "inf"}, 0, 2, "", ""},
        {{"set-rpm", "0", "nan"}, 0, 2, "", ""},
        {{"set-rpm", "0", "1e40"}, 0, 2, "", ""},
        {{"set-rpm", "0"}, 0, 1, "", rpmUsage},
        {{"set-rpm", "zero", "2000"}, 0, 1, "", rpmUsage},
        {{"set-rpm", "0", "fast"}, 0, 1, "", rpmUsage},
        {{"set-rpm", " 0", "2000"}, 0, 1, "", rpmUsage},
        {{"set-rpm", "0", "2000 "}, 0, 1, "", rpmUsage},
        {{"set-rpm", "99999999999999999999", "2000"}, 0, 1, "", rpmUsage},
        {{"set-rpm", "+-1", "2000"}, 0, 1, "", rpmUsage},
        {{"set-mode", "1", "1"}, 0, 0, "", ""},
        {{"set-mode", "-1", "1"}, 0, 2, "", ""},
        {{"set-mode", "1", "x"}, 0, 1, "", modeUsage},
        {{"set-mode"}, 0, 1, "", modeUsage},
        {{"reset-auto"}, 0, 0, "", ""},
        {{"set-lpm"}, 0, 1, "", "Usage: VentoralHelper set-lpm <0|1>\n"},
        {{"PING"}, 0, 1, "", "Unknown command: PING\n"},
        {{"--help"}, 0, 1, "", "Unknown command: --help\n"},
    };
    for (const auto& c : cases) {
        auto r = run(c.args, c.euid);
        std::string label = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "") +
                            (c.args.size() > 2 ? " " + c.args[2] : "");
        EXPECT_EQ(r.status, c.status) << label;
        EXPECT_EQ(r.out, c.out) << label;
        EXPECT_EQ(r.err, c.err) << label;
    }
}

TEST(HelperCommandLine, LowPowerModeValues) {
    const std::pair<const char*, bool> cases[] = {{"1", true},    {"TRUE", true}, {"On", true},
                                                  {"true", true}, {"yes", false}, {"0", false},
                                                  {"", false},    {"off", false}, {"01", false}};
    for (auto [value, enabled] : cases) {
        auto r = run({"set-lpm", value});
        EXPECT_EQ(r.status, 0) << value;
        EXPECT_EQ(r.lowPower, enabled) << value;
    }
}

TEST(HelperCommandLine, NoArgumentRunsTheDaemonAndInstallReportsItsOutcome) {
    EXPECT_TRUE(run({}).daemonStarted);
    EXPECT_EQ(run({"install"}, 0, true).status, 0);
    EXPECT_EQ(run({"install"}, 0, false).status, 1);
}

TEST(HelperCommandLine, ASetuidRunMayNotInstall) {
    auto r = run({"install"}, 0, true, 1000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: install must be run by root (for example through pkexec or sudo); "
                     "this copy's set-user-id bit does not allow it.\n");
    EXPECT_EQ(run({"set-rpm", "0", "2000"}, 0, true, 1000).status, 0); // fan writes it may
}

TEST(HelperCommandLine, ASetuidRunFromARemoteSessionMayOnlyHandBack) {
    const std::string fans = "Not authorized to control the fans: that needs an active local "
                             "session or an administrator's password\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{"set-rpm", "0", "2000"}, 1, fans},
        {{"set-mode", "0", "1"}, 1, fans},
        {{"set-lpm", "1"},
         1,
         "Not authorized to switch the power profile: that needs an active local session or an "
         "administrator's password\n"},
        {{"set-mode", "0", "0"}, 0, ""},
        {{"reset-auto"}, 0, ""},
        {{"hand-back"}, 0, ""},
    };
    for (const auto& c : cases) {
        auto r = run(c.args, 0, true, 4000);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_EQ(r.err, c.err) << c.args[0];
        EXPECT_EQ(r.lowPower, std::nullopt) << c.args[0];
    }
}

TEST(HelperCommandLine, TheBackstopsHoldRefusesManualWritesUntilTheCPUHasCooled) {
    TemporaryFolder state;
    ThermalHold(state.path()).hold({0});
    const std::string refusal =
        "Fan 0 stays under automatic control: the CPU reached 95\u00B0C while it was held "
        "manually. Manual control returns once the CPU is below 88\u00B0C.\n";
    struct Case {
        std::vector<std::string> args;
        double package;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{"set-rpm", "0", "2000"}, 90, 1, refusal}, {{"set-mode", "0", "1"}, 90, 1, refusal},
        {{"set-mode", "0", "0"}, 90, 0, ""},     // back to automatic is always allowed
        {{"set-mode", "1", "1"}, 90, 0, ""},     // fan 1 was not handed back
        {{"set-rpm", "0", "2000"}, 87.5, 0, ""}, // cooled: the hold ends
        {{"set-rpm", "0", "2000"}, 95, 0, ""},   // and stays ended
    };
    for (const auto& c : cases) {
        auto r = run(c.args, 0, true, std::nullopt, state.path(), c.package);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1] << " at " << c.package;
        EXPECT_EQ(r.err, c.err) << c.args[0] << " " << c.args[1] << " at " << c.package;
    }
}

TEST(HelperCommandLine, ArgumentParsers) {
    EXPECT_EQ(parseIndexArgument("-3"), -3);
    EXPECT_EQ(parseIndexArgument("+15"), 15);
    EXPECT_FALSE(parseIndexArgument(""));
    EXPECT_FALSE(parseIndexArgument("+"));
    EXPECT_FALSE(parseIndexArgument("1.0"));
    EXPECT_EQ(parseSpeedArgument("1800.0"), 1800.0f);
    EXPECT_EQ(parseSpeedArgument("+2e3"), 2000.0f);
    EXPECT_EQ(parseSpeedArgument("1e-50"), 0.0f);
    EXPECT_FALSE(parseSpeedArgument(""));
    EXPECT_FALSE(parseSpeedArgument("+-5"));
    EXPECT_FALSE(parseSpeedArgument("12rpm"));
}

} // namespace
} // namespace ventoral
