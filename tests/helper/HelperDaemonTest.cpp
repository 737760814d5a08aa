// The daemon on a private system bus, called through the proxy generated from the interface
// declaration and through a generic client.
#include "core/helper/HelperProtocol.h"
#include "helper/dbus/SMCHelperClient.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SysfsFixture.h"

#include <cmath>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <thread>

namespace ventoral {
namespace {

using namespace ventoral::testing;

class HelperDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.isUp());
        // sd-bus finds the private bus through this, as the helper does.
        systemBus.emplace("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
        nct6775Desktop(machine);
        daemon = startDaemon();
        connection = sdbus::createSystemBusConnection();
        client = std::make_unique<SMCHelperClient>(*connection);
        ASSERT_TRUE(waitUntil(
            [&] {
                try {
                    return std::get<0>(client->Ping());
                } catch (const sdbus::Error&) {
                    return false;
                }
            },
            10))
            << daemon->errorOutput();
    }
    std::unique_ptr<BackgroundProcess> startDaemon() {
        return std::make_unique<BackgroundProcess>(
            std::vector<std::string>{VENTORAL_HELPER_PATH},
            EnvironmentChanges{{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()},
                               {"VENTORAL_SYSFS_ROOT", machine.root()},
                               {"VENTORAL_SMC_PROFILE", ""}});
    }

    PrivateBus bus;
    std::optional<ScopedEnvironmentVariable> systemBus;
    SysfsFixture machine;
    std::unique_ptr<BackgroundProcess> daemon;
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<SMCHelperClient> client;
    const std::string board = "devices/platform/nct6775.656/hwmon/hwmon2/";
};

using Reply = std::tuple<bool, std::string>;

TEST_F(HelperDaemon, MethodsReplyAfterTheWork) {
    EXPECT_EQ(client->Ping(), Reply(true, "VentoralHelper daemon online (euid: " +
                                              std::to_string(geteuid()) + ")"));

    // Fan 0 is the graphics card's; the board's fans follow.
    EXPECT_EQ(client->SetFanRPM(1, 1400.0), Reply(true, ""));
    EXPECT_EQ(machine.read(board + "pwm1_enable"), "1"); // already written when the reply came

    EXPECT_EQ(client->SetFanMode(2, 1), Reply(true, ""));
    EXPECT_EQ(machine.read(board + "pwm2_enable"), "1");
    EXPECT_EQ(client->ResetAllFansToAuto(), Reply(true, ""));
    EXPECT_EQ(machine.read(board + "pwm1_enable"), "5");
    EXPECT_EQ(machine.read(board + "pwm2_enable"), "5");
}

TEST_F(HelperDaemon, FailuresCarryOnlyTheFixedTexts) {
    struct Case {
        std::function<Reply()> call;
        Reply reply;
    };
    const Case cases[] = {
        {[&] { return client->SetFanRPM(16, 2000); },
         {false, "Direct SMC write failed for fan 16"}},
        {[&] { return client->SetFanRPM(-1, 2000); },
         {false, "Direct SMC write failed for fan -1"}},
        {[&] { return client->SetFanRPM(1, 1e300); }, {false, "Direct SMC write failed for fan 1"}},
        {[&] { return client->SetFanRPM(1, std::nan("")); },
         {false, "Direct SMC write failed for fan 1"}},
        {[&] { return client->SetFanMode(10, 1); },
         {false, "Direct SMC mode write failed for fan 10"}},
        {[&] { return client->SetLowPowerMode(true); },
         {false, "Failed to update Low Power Mode via pmset"}}, // no profile on this machine
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), c.reply);
    }
    EXPECT_EQ(machine.read(board + "pwm1_enable"), "5");

    machine.write("firmware/acpi/platform_profile_choices", "quiet balanced");
    machine.write("firmware/acpi/platform_profile", "balanced");
    EXPECT_EQ(client->SetLowPowerMode(true), Reply(true, ""));
    EXPECT_EQ(machine.read("firmware/acpi/platform_profile"), "quiet");
}

TEST_F(HelperDaemon, SeveralClientsAtOnce) {
    auto hammer = [&](std::int64_t fan, int& failures) {
        auto own = sdbus::createSystemBusConnection();
        SMCHelperClient mine(*own);
        for (int i = 0; i < 40; ++i) {
            // Ends on automatic.
            if (!std::get<0>(mine.SetFanMode(fan, (i + 1) % 2))) {
                ++failures;
            }
        }
    };
    int failuresA = 0, failuresB = 0;
    std::thread a(hammer, 1, std::ref(failuresA));
    std::thread b(hammer, 2, std::ref(failuresB));
    a.join();
    b.join();
    EXPECT_EQ(failuresA, 0);
    EXPECT_EQ(failuresB, 0);
    EXPECT_EQ(machine.read(board + "pwm1_enable"), "5");
    EXPECT_EQ(machine.read(board + "pwm2_enable"), "5");
}

TEST_F(HelperDaemon, AGenericClientSeesTheDeclaredInterface) {
    auto ping = runCommand({"/usr/bin/busctl", "--address=" + bus.address(), "call",
                            HelperProtocol::busName, HelperProtocol::objectPath,
                            HelperProtocol::interfaceName, "SetFanMode", "xx", "3", "1"});
    EXPECT_EQ(ping.exitStatus, 0) << ping.err;
    EXPECT_EQ(ping.out, "bs true \"\"\n");

    auto send = runCommand(
        {"/usr/bin/dbus-send", "--bus=" + bus.address(), "--print-reply",
         std::string("--dest=") + HelperProtocol::busName, HelperProtocol::objectPath,
         std::string(HelperProtocol::interfaceName) + ".SetFanMode", "int64:3", "int64:0"});
    EXPECT_EQ(send.exitStatus, 0) << send.err;
    EXPECT_NE(send.out.find("   boolean true\n   string \"\"\n"), std::string::npos) << send.out;

    auto wrongTypes = runCommand({"/usr/bin/busctl", "--address=" + bus.address(), "call",
                                  HelperProtocol::busName, HelperProtocol::objectPath,
                                  HelperProtocol::interfaceName, "SetFanMode", "s", "2"});
    EXPECT_NE(wrongTypes.exitStatus, 0);
    EXPECT_TRUE(daemon->isRunning());
    EXPECT_EQ(std::get<0>(client->Ping()), true);
}

TEST_F(HelperDaemon, OnlyOneDaemonHoldsTheName) {
    auto second = startDaemon();
    EXPECT_TRUE(waitUntil([&] { return !second->isRunning(); }, 10));
    EXPECT_EQ(second->stop(SIGTERM), 1);
    EXPECT_NE(second->errorOutput().find("cannot serve com.tesvane.smchelper"), std::string::npos);
    EXPECT_TRUE(daemon->isRunning());
}

} // namespace
} // namespace ventoral

namespace ventoral {
namespace {

TEST_F(HelperDaemon, ACalibrationIsToldBySignalsAndAResetStopsIt) {
    std::mutex mutex;
    std::vector<std::string> heard;
    auto listening = sdbus::createSystemBusConnection();
    SMCHelperClient listener(
        *listening,
        [&](std::int64_t index, double fraction, const std::string& message) {
            std::lock_guard guard(mutex);
            heard.push_back("progress " + std::to_string(index) + " " +
                            std::to_string(std::lround(fraction * 100)) + " " + message);
        },
        [&](std::int64_t index, bool success, const std::string& message) {
            std::lock_guard guard(mutex);
            heard.push_back("finished " + std::to_string(index) + " " +
                            (success ? "true" : "false") + " " + message);
        });
    listening->enterEventLoopAsync();
    auto last = [&] {
        std::lock_guard guard(mutex);
        return heard.empty() ? std::string() : heard.back();
    };

    EXPECT_EQ(client->Calibrate(0),
              (Reply{false, "GPU Fan (amdgpu) needs no calibration: its driver gives its limits"}));
    EXPECT_EQ(client->Calibrate(2), (Reply{true, "Calibrating fan 2"}));
    ASSERT_TRUE(waitUntil([&] { return last() == "progress 2 0 full duty"; }, 5)) << last();
    EXPECT_EQ(machine.read(board + "pwm2_enable"), "1");
    EXPECT_EQ(client->SetFanRPM(2, 3000),
              (Reply{false,
                     "Fan 2 is being calibrated: it goes back to its own control when that ends"}));

    EXPECT_EQ(client->ResetAllFansToAuto(), (Reply{true, ""}));
    ASSERT_TRUE(waitUntil([&] { return last().rfind("finished", 0) == 0; }, 5)) << last();
    EXPECT_EQ(last(), "finished 2 false nct6775 Fan 2: calibration stopped: it was stopped "
                      "before it finished.");
    EXPECT_EQ(machine.read(board + "pwm2_enable"), "5");
    EXPECT_EQ(machine.read(board + "pwm2"), "92");
    listening->leaveEventLoop();
}

} // namespace
} // namespace ventoral
