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
