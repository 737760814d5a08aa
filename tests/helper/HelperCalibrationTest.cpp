// Calibration from the command line and through the daemon's requests, over a desktop whose
// board fans turn as model fans do while a fake clock moves.
#include "core/helper/HelperProtocol.h"
#include "helper/cli/HelperCommandLine.h"
#include "helper/daemon/FanCalibrations.h"
#include "helper/daemon/HelperRequests.h"
#include "tests/platform/hwmon/HwmonMachine.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>
#include <sstream>

namespace ventoral {
namespace {

const std::string board = "devices/platform/nct6775.656/hwmon/hwmon2/";

struct Desk : testing::Machine {
    Desk() : Machine(testing::nct6775Desktop) {
        for (int n = 1; n <= 3; ++n) {
            testing::ModelFan fan;
            fan.stopDuty = 40 + 10 * n;
            fan.startDuty = 70 + 10 * n;
            const std::string i = std::to_string(n);
            model(board + "pwm" + i, board + "fan" + i + "_input", fan);
        }
    }
    std::string state(int n) const {
        const std::string i = std::to_string(n);
        return fixture.read(board + "pwm" + i + "_enable") + "/" + fixture.read(board + "pwm" + i);
    }
};

struct CommandRun {
    int status;
    std::string out, err;
};

// An output whose reader is gone after `left` characters, as a pipe to a program that quit.
struct ReaderGone : std::streambuf {
    explicit ReaderGone(int characters) : left(characters) {}
    int overflow(int c) override { return left-- > 0 ? c : traits_type::eof(); }
    int left;
};

CommandRun calibrate(Desk& desk, std::vector<std::string> args, uid_t euid = 0,
                     std::function<bool()> interrupted = {}, std::streambuf* output = nullptr) {
    std::ostringstream captured, err;
    std::ostream out(output ? output : captured.rdbuf());
    ThermalHold hold("");
    HelperServices services{
        [&desk] { return std::make_unique<DirectSMCOperator>(desk.makeTransport()); },
        [](bool) { return true; },
        [] { return true; },
        [](DirectSMCOperator&) { return 0; },
        euid,
        euid,
        hold,
        [](const char*) { return true; },
        out,
        err,
        std::move(interrupted),
    };
    args.insert(args.begin(), HelperProtocol::Command::calibrate);
    int status = runHelperCommandLine(args, services);
    return {status, captured.str(), err.str()};
}

TEST(HelperCalibrateCommand, MeasuresEachFanThatNeedsIt) {
    Desk desk;
    CommandRun run = calibrate(desk, {});
    EXPECT_EQ(run.status, 0) << run.err;
    for (int n = 1; n <= 3; ++n) {
        const std::string i = std::to_string(n);
        EXPECT_NE(run.out.find("Calibrating fan " + i + "\nFan " + i + " 0%: full duty\n"),
                  std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("\nnct6775 Fan " + i + ": "), std::string::npos) << run.out;
    }
    EXPECT_EQ(run.out.find("Calibrating fan 0"), std::string::npos); // its driver knows
    EXPECT_EQ(desk.state(1) + " " + desk.state(2) + " " + desk.state(3), "5/91 5/92 5/93");

    // Measured now, so a second run has nothing to do; one fan can still be measured again.
    EXPECT_EQ(calibrate(desk, {}).out, "No fan needs calibration.\n");
    EXPECT_EQ(calibrate(desk, {"2"}).status, 0);
}

TEST(HelperCalibrateCommand, AReaderThatGoesAwayStopsItAndTheFanGoesBack) {
    Desk desk;
    ReaderGone pipe(200);
    CommandRun run = calibrate(desk, {"2"}, 0, {}, &pipe);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "nct6775 Fan 2: calibration stopped: it was stopped before it finished.\n");
    EXPECT_EQ(desk.state(2), "5/92");
}

TEST(HelperCalibrateCommand, RefusalsAndInterruptions) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        uid_t euid;
        bool interrupt;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {"not a fan number", {"two"}, 0, false, 1, "Usage: VentoralHelper calibrate [index]\n"},
        {"not root",
         {"2"},
         501,
         false,
         1,
         "Error: calibrate must be run as root (for example through pkexec or sudo).\n"},
        {"a fan its driver describes",
         {"0"},
         0,
         false,
         2,
         "GPU Fan (amdgpu) needs no calibration: its driver gives its limits\n"},
        {"no such fan", {"12"}, 0, false, 2, "There is no fan 12\n"},
        {"interrupted",
         {"2"},
         0,
         true,
         2,
         "nct6775 Fan 2: calibration stopped: it was stopped before it finished.\n"},
    };
    for (const Case& c : cases) {
        Desk desk;
        int looks = 0;
        CommandRun run =
            calibrate(desk, c.args, c.euid, [&] { return c.interrupt && ++looks > 10; });
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.err, c.err) << c.name;
        EXPECT_EQ(desk.state(2), "5/92") << c.name;
    }
}

// The daemon's side: one calibration at a time, the measured fan out of reach of writes
// until it ends, and a reset that stops it.
struct DaemonDesk : Desk {
    std::unique_ptr<DirectSMCOperator> smc = std::make_unique<DirectSMCOperator>(makeTransport());
    FanCustody custody;
    ThermalHold hold{""};
    std::ostringstream log;
    std::mutex mutex;
    std::vector<std::string> told;
    FanCalibrations calibrations{
        *smc,
        [this](std::int64_t index, double fraction, const std::string&) {
            std::lock_guard guard(mutex);
            if (fraction == 0) {
                told.push_back("progress " + std::to_string(index));
            }
        },
        [this](std::int64_t index, bool success, const std::string& message) {
            std::lock_guard guard(mutex);
            told.push_back("finished " + std::to_string(index) + " " +
                           (success ? "true" : "false") + " " + message);
        }};
    HelperRequests requests{
        *smc,
        [](bool) { return true; },
        0,
        custody,
        [] {},
        hold,
        [](const std::string& sender, const char*) { return sender != ":1.99"; },
        log,
        &calibrations};

    std::vector<std::string> events() {
        std::lock_guard guard(mutex);
        return told;
    }
};

TEST(HelperCalibrationRequests, OneAtATimeAndOutOfReachUntilItEnds) {
    DaemonDesk d;
    std::atomic<bool> release{false};
    d.onEachWait = [&] {
        while (!release) {
            std::this_thread::yield(); // hold the measurement mid-way
        }
    };
    using Result = HelperRequests::Result;
    EXPECT_EQ(d.requests.calibrate(2, ":1.99"),
              (Result{false, HelperProtocol::Reply::notAuthorizedForFans}));
    EXPECT_EQ(
        d.requests.calibrate(0, ":1.5"),
        (Result{false, "GPU Fan (amdgpu) needs no calibration: its driver gives its limits"}));
    EXPECT_EQ(d.requests.calibrate(7, ":1.5"), (Result{false, "There is no fan 7"}));
    EXPECT_EQ(d.requests.calibrate(2, ":1.5"), (Result{true, "Calibrating fan 2"}));
    EXPECT_EQ(d.requests.calibrate(1, ":1.6"),
              (Result{false, "A calibration is already running for fan 2"}));
    const Result busy{false, "Fan 2 is being calibrated: it goes back to its own control when "
                             "that ends"};
    EXPECT_EQ(d.requests.setFanRPM(2, 3000, ":1.6"), busy);
    EXPECT_EQ(d.requests.setFanMode(2, 1, ":1.6"), busy);
    EXPECT_EQ(std::get<0>(d.requests.setFanRPM(1, 3000, ":1.6")), true); // other fans go on

    release = true;
    ASSERT_TRUE(testing::waitUntil([&] { return d.events().size() == 2; }, 10));
    EXPECT_EQ(d.events()[0], "progress 2");
    EXPECT_EQ(d.events()[1].rfind("finished 2 true nct6775 Fan 2: ", 0), 0u) << d.events()[1];
    EXPECT_EQ(d.state(2), "5/92");
    EXPECT_EQ(std::get<0>(d.requests.setFanRPM(2, 3000, ":1.6")), true);
}

TEST(HelperCalibrationRequests, AResetStopsTheMeasurementAndTheFanGoesBack) {
    DaemonDesk d;
    std::atomic<bool> resetDone{false};
    d.onEachWait = [&] {
        while (!resetDone) {
            std::this_thread::yield();
        }
    };
    ASSERT_TRUE(std::get<0>(d.requests.calibrate(3, ":1.5")));
    EXPECT_TRUE(std::get<0>(d.requests.resetAllFansToAuto()));
    resetDone = true;
    d.calibrations.cancelAndWait();
    ASSERT_EQ(d.events().size(), 2u);
    EXPECT_EQ(d.events()[1],
              "finished 3 false nct6775 Fan 3: calibration stopped: it was stopped before it "
              "finished.");
    EXPECT_EQ(d.state(3), "5/93");
}

} // namespace
} // namespace ventoral
