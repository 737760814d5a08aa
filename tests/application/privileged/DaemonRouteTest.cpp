#include "application/privileged/PrivilegedSMCWriter.h"
#include "tests/application/privileged/WriterRig.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace testing;

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

namespace ventoral {
namespace {

using namespace testing;

// A calibration's reports as the writer gives them, on the test's main thread.
struct CalibrationReports {
    std::vector<std::string> progress;
    std::optional<FanCalibrationOutcome> outcome;
    std::thread::id thread;
    CalibrationProgress onProgress() {
        return [this](double fraction, const std::string& message) {
            thread = std::this_thread::get_id();
            progress.push_back(std::to_string(std::lround(fraction * 100)) + " " + message);
        };
    }
    CalibrationCompletion onEnd() {
        return [this](const FanCalibrationOutcome& o) { outcome = o; };
    }
};

TEST_F(DaemonRoute, ACalibrationOverTheBusReportsAsItGoesAndEndsWithTheReset) {
    rig.installed(false, "enabled");
    CalibrationReports driverKnows;
    rig.writer()->calibrateFan(0, driverKnows.onProgress(), driverKnows.onEnd());
    ASSERT_TRUE(rig.main.pumpUntil([&] { return driverKnows.outcome.has_value(); }));
    EXPECT_EQ(*driverKnows.outcome,
              (FanCalibrationOutcome{
                  false, "GPU Fan (amdgpu) needs no calibration: its driver gives its limits"}));

    CalibrationReports board2, second;
    rig.writer()->calibrateFan(2, board2.onProgress(), board2.onEnd());
    ASSERT_TRUE(rig.main.pumpUntil([&] { return board2.progress.size() >= 2; }));
    EXPECT_EQ(board2.progress[0], "0 Starting");
    EXPECT_EQ(board2.progress[1], "0 full duty");
    EXPECT_EQ(board2.thread, std::this_thread::get_id());
    rig.writer()->calibrateFan(1, second.onProgress(), second.onEnd());
    ASSERT_TRUE(rig.main.pumpUntil([&] { return second.outcome.has_value(); }));
    EXPECT_EQ(second.outcome->message, "A fan is being calibrated already");

    Outcome reset;
    rig.writer()->restoreAllFansToAuto(reset.completion());
    ASSERT_TRUE(rig.main.pumpUntil([&] { return board2.outcome.has_value(); }));
    EXPECT_EQ(*board2.outcome,
              (FanCalibrationOutcome{false, "nct6775 Fan 2: calibration stopped: it was stopped "
                                            "before it finished."}));
    EXPECT_EQ(rig.machine.read(board + "pwm2_enable"), "5");
    EXPECT_EQ(rig.machine.read(board + "pwm2"), "92");
    EXPECT_EQ(rig.log(), ""); // no helper process ran
}

} // namespace
} // namespace ventoral
