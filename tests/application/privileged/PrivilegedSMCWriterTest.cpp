#include "application/privileged/PrivilegedSMCWriter.h"

#include "platform/smc/EmulatedSmcTransport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeProfileDaemon.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SysfsFixture.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace ventoral {
namespace {

namespace fs = std::filesystem;
using namespace ventoral::testing;
using Mode = PrivilegedWriteMode;
using Clock = std::chrono::steady_clock;

// The main thread of these tests: jobs posted to it run when the test pumps.
class MainQueue {
public:
    void post(std::function<void()> job) {
        {
            std::lock_guard guard(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_all();
    }
    // Runs posted jobs on this thread until `done` holds or the time is up.
    bool pumpUntil(const std::function<bool()>& done, double seconds = 10) {
        auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            std::vector<std::function<void()>> jobs;
            {
                std::unique_lock lock(mutex_);
                if (!wake_.wait_until(lock, deadline, [&] { return !jobs_.empty(); })) {
                    return done();
                }
                jobs.swap(jobs_);
            }
            for (auto& job : jobs) {
                job();
            }
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::function<void()>> jobs_;
};

// One completion: how many times it ran, on which thread, with what.
struct Outcome {
    int calls = 0;
    std::thread::id thread;
    WriteResult result;
    WriteCompletion completion() {
        return [this](WriteResult r) {
            ++calls;
            thread = std::this_thread::get_id();
            result = std::move(r);
        };
    }
};

// A write failure by the text it carries; anything else by its description.
std::string describe(const WriteResult& r) {
    if (!r) {
        return "success";
    }
    return r->kind() == SMCError::Kind::writeFailed ? r->payload() : std::string(r->what());
}

// A transport that notes the keys written, in order, on the way to the emulated controller.
class RecordingTransport final : public SmcTransport {
public:
    RecordingTransport(std::unique_ptr<SmcTransport> inner, std::vector<std::string>& writes)
        : inner_(std::move(inner)), writes_(writes) {}
    bool open() override { return inner_->open(); }
    void close() override { inner_->close(); }
    bool isOpen() const override { return inner_->isOpen(); }
    Reply call(const SMCRecordBytes& input) override {
        SMCKeyData_t record = fromBytes(input);
        if (record.data8 == SMCCommand::writeBytes) {
            writes_.push_back(stringFromFourCharCode(record.key));
        }
        return inner_->call(input);
    }

private:
    std::unique_ptr<SmcTransport> inner_;
    std::vector<std::string>& writes_;
};

EmulatedSmcTransport::Key key(const std::string& type, double value) {
    std::size_t size = type == "flt " ? 4 : type == "ui8 " ? 1 : 2;
    return {type, EmulatedSmcTransport::encodeNumber(value, type, size), true, true, 0};
}

// A writer over a prefix of fake programs: systemctl reads the unit's state from a file, sudo
// runs its command unless told a password is needed, helpers log their arguments.
class Rig {
public:
    explicit Rig(uid_t euid = 1000) : euid_(euid) {
        writeScript(prefix() + "/usr/bin/systemctl", R"sh(p="${0%/usr/bin/systemctl}"
echo "$*" >> "$p/systemctl.log"
if [ "$1" = is-enabled ]; then
  if [ -e "$p/unit-state" ]; then cat "$p/unit-state"; else echo not-found; exit 4; fi
  [ "$(cat "$p/unit-state")" = enabled ]; exit $?
fi
exit 0
)sh");
        writeScript(prefix() + "/usr/bin/sudo", R"(p="${0%/usr/bin/sudo}"
[ "$1" = -n ] || exit 99
shift
if [ -e "$p/sudo-needs-password" ]; then echo "sudo: a password is required" >&2; exit 1; fi
exec "$@"
)");
        controller = std::make_unique<SMCService>(std::make_unique<RecordingTransport>(
            std::make_unique<EmulatedSmcTransport>(
                std::map<std::string, EmulatedSmcTransport::Key>{{"FNum", key("ui8 ", 2)},
                                                                 {"F0Md", key("ui8 ", 0)},
                                                                 {"F1Md", key("ui8 ", 0)},
                                                                 {"FS! ", key("ui16", 0)},
                                                                 {"F1Tg", key("flt ", 0)}},
                true),
            smcWrites));
    }

    std::shared_ptr<PrivilegedSMCWriter> writer() {
        if (!writer_) {
            PrivilegedWriterPlatform p;
            p.rootPrefix = prefix();
            p.effectiveUid = [this] { return euid_; };
            p.smc = [this]() -> SMCService& { return *controller; };
            p.systemBus = busAddress.empty() ? BusOpener([] { return nullptr; }) : openSystemBus;
            p.postToMain = [this](std::function<void()> job) { main.post(std::move(job)); };
            p.runElevated = [this](const std::string& command) {
                elevated.push_back(command);
                return elevation(command);
            };
            p.currentDirectory = workspace();
            p.sysfsRoot = machine.root();
            writer_ = PrivilegedSMCWriter::make(std::move(p));
        }
        return writer_;
    }

    std::string prefix() const { return root_.path() + "/root"; }
    std::string workspace() const { return root_.path() + "/it's mine"; }
    std::string buildHelper() const { return workspace() + "/build/debug/helper/VentoralHelper"; }
    std::string log() const { return readFile(root_.path() + "/helper.log"); }

    // A fake helper at `path` that logs its arguments and then does `then`.
    void helper(const std::string& path, mode_t mode, const std::string& then = "exit 0\n") {
        writeScript(path, "echo \"$*\" >> '" + root_.path() + "/helper.log'\n" + then, mode);
    }
    void installed(bool setuid, const char* unitState) {
        PrivilegedSMCWriter& w = *writer();
        helper(w.helperInstalledPath(), setuid ? 04755 : 0755);
        helper(w.localBinPath(), setuid ? 04755 : 0755);
        fs::create_directories(fs::path(w.launchDaemonPlistPath()).parent_path());
        std::ofstream(w.launchDaemonPlistPath()) << "[Unit]\n";
        if (unitState) {
            std::ofstream(prefix() + "/unit-state") << unitState << "\n";
        }
    }
    Outcome wait(Outcome& o, double seconds = 10) {
        main.pumpUntil([&] { return o.calls > 0; }, seconds);
        return o;
    }

    TemporaryFolder root_;
    uid_t euid_;
    std::vector<std::string> smcWrites;
    std::unique_ptr<SMCService> controller;
    SysfsFixture machine;
    MainQueue main;
    std::vector<std::string> elevated;
    std::function<ElevationOutcome(const std::string&)> elevation = [](const std::string&) {
        return ElevationOutcome{ElevationOutcome::Kind::succeeded, {}};
    };
    std::string busAddress;

private:
    std::shared_ptr<PrivilegedSMCWriter> writer_;
};

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

// The bus routes, against the real helper daemon on a private bus.
class DaemonRoute : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "files owned by root need root";
        }
        ASSERT_TRUE(bus.isUp());
        systemBus.emplace("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
        nct6775Desktop(rig.machine);
        rig.busAddress = bus.address();
        daemon = bus.startHelperDaemon(VENTORAL_HELPER_PATH, rig.machine.root());
        ASSERT_TRUE(daemon);
    }
    Outcome write(std::function<void(PrivilegedSMCWriter&, WriteCompletion)> call) {
        Outcome o;
        call(*rig.writer(), o.completion());
        rig.wait(o);
        EXPECT_EQ(o.calls, 1);
        EXPECT_EQ(o.thread, std::this_thread::get_id());
        return o;
    }

    PrivateBus bus;
    std::optional<ScopedEnvironmentVariable> systemBus;
    Rig rig;
    std::unique_ptr<BackgroundProcess> daemon;
    const std::string board = "devices/platform/nct6775.656/hwmon/hwmon2/";
};

TEST_F(DaemonRoute, WritesGoOverTheBusAndFallBackWhenItFails) {
    rig.installed(false, "enabled");
    auto rpm = write([](auto& w, auto c) { w.setFanRPM(1, 1400, c); });
    EXPECT_EQ(describe(rpm.result), "success");
    EXPECT_EQ(rig.machine.read(board + "pwm1_enable"), "1");
    EXPECT_EQ(rig.log(), ""); // no helper process ran

    // Refused, with no set-user-id helper to fall back on: the daemon's own text.
    auto refused = write([](auto& w, auto c) { w.setFanRPM(15, 1800, c); });
    EXPECT_EQ(describe(refused.result), "Direct SMC write failed for fan 15");

    auto reset = write([](auto& w, auto c) { w.restoreAllFansToAuto(c); });
    EXPECT_EQ(describe(reset.result), "success");
    EXPECT_EQ(rig.machine.read(board + "pwm1_enable"), "5");

    // The daemon goes away: that write falls back to the helper, and so does the next, which
    // does not try the bus at all.
    daemon->stop(SIGTERM);
    auto gone = write([](auto& w, auto c) { w.setFanMode(2, FanMode::manual, c); });
    EXPECT_EQ(describe(gone.result), "success");
    EXPECT_TRUE(rig.writer()->xpcUnavailableForSession());
    auto next = write([](auto& w, auto c) { w.setFanMode(2, FanMode::automatic, c); });
    EXPECT_EQ(rig.log(), "set-mode 2 1\nset-mode 2 0\n");

    // A successful authorization makes the bus worth trying again.
    ::unlink(rig.writer()->localBinPath().c_str());
    ::unlink(rig.writer()->helperInstalledPath().c_str());
    rig.helper(rig.buildHelper(), 0755);
    Outcome authorized;
    rig.writer()->authorize(authorized.completion());
    rig.wait(authorized);
    EXPECT_FALSE(rig.writer()->xpcUnavailableForSession());
}

TEST_F(DaemonRoute, ARefusalFallsBackToASetuidHelper) {
    rig.installed(true, "enabled");
    auto refused = write([](auto& w, auto c) { w.setFanRPM(15, 1800, c); });
    EXPECT_EQ(describe(refused.result), "success");
    EXPECT_EQ(rig.log(), "set-rpm 15 1800.0\n");
}

TEST_F(DaemonRoute, LowPowerModeThroughTheProfileDaemonNeedsNoElevation) {
    FakeProfileDaemon profiles("org.freedesktop.UPower.PowerProfiles",
                               "/org/freedesktop/UPower/PowerProfiles",
                               FakeProfileDaemon::Behaviour::obey);
    auto on = write([](auto& w, auto c) { w.setLowPowerMode(true, c); });
    EXPECT_EQ(describe(on.result), "success");
    EXPECT_EQ(profiles.active(), "power-saver");
    EXPECT_TRUE(rig.elevated.empty());
}

} // namespace
} // namespace ventoral
