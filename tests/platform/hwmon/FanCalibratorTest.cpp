#include "platform/hwmon/FanCalibrator.h"

#include "tests/support/ModelFan.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using testing::ModelFan;

// A model fan behind a probe; `hot`, `gone` and `stopAt` set when trouble starts.
struct Rig {
    ModelFan fan;
    double hotAt = -1, goneAt = -1, stopAt = -1;
    double noise = 0; // added and taken away on alternate readings
    int readings = 0;
    FanCalibrationTiming timing;
    std::vector<double> fractions;

    FanProbe probe() {
        return {
            [this]() -> std::optional<double> {
                if (goneAt >= 0 && fan.now >= goneAt) {
                    return std::nullopt;
                }
                return fan.speed() + (++readings % 2 ? noise : 0);
            },
            [this](int duty) {
                fan.setDuty(duty);
                return true;
            },
            [this]() -> std::optional<double> {
                return hotAt >= 0 && fan.now >= hotAt ? 91.4 : 60.0;
            },
            [this] { return fan.now; },
            [this](double seconds) { fan.now += seconds; },
            [this] { return stopAt >= 0 && fan.now >= stopAt; },
            [this](double fraction, const std::string&) { fractions.push_back(fraction); },
        };
    }
};

TEST(FanCalibrator, FindsStopAndStartWithinOneStep) {
    struct Case {
        int stop, start;
        double settle;
    };
    for (Case c : {Case{60, 90, 3}, Case{100, 101, 3}, Case{20, 70, 6}, Case{200, 240, 1}}) {
        Rig rig;
        rig.fan.stopDuty = c.stop;
        rig.fan.startDuty = c.start;
        rig.fan.settleSeconds = c.settle;
        FanMeasurementRun run = measureFanLimits(rig.probe());
        ASSERT_TRUE(run.measurement) << run.failure;
        const FanMeasurement& m = *run.measurement;
        const int step = FanCalibrationTiming{}.step;
        ASSERT_TRUE(m.stopDuty);
        EXPECT_LT(*m.stopDuty, c.stop);
        EXPECT_GE(*m.stopDuty, c.stop - step);
        EXPECT_GE(m.startDuty, c.start);
        EXPECT_LT(m.startDuty, c.start + step);
        EXPECT_NEAR(m.maximumRPM, rig.fan.fullRPM, 20);
        EXPECT_NEAR(m.minimumRPM, rig.fan.curve(m.startDuty), 40);
        EXPECT_EQ(m.points.front().duty, m.startDuty);
        EXPECT_EQ(m.points.back().duty, 255);
        EXPECT_EQ(rig.fractions.back(), 1.0);
        EXPECT_TRUE(std::is_sorted(rig.fractions.begin(), rig.fractions.end()));
    }
}

TEST(FanCalibrator, AFanThatNeverStopsEndsAtItsFloor) {
    Rig rig;
    rig.fan.neverStops = true;
    rig.fan.floorDuty = 70;
    FanMeasurementRun run = measureFanLimits(rig.probe());
    ASSERT_TRUE(run.measurement) << run.failure;
    EXPECT_FALSE(run.measurement->stopDuty);
    EXPECT_GE(run.measurement->startDuty, 70);
    EXPECT_LT(run.measurement->startDuty, 70 + FanCalibrationTiming{}.step);
    EXPECT_NEAR(run.measurement->minimumRPM, rig.fan.curve(70), 60);
}

TEST(FanCalibrator, StopsAtOnceWhenSomethingIsWrong) {
    struct Case {
        const char* name;
        void (*arrange)(Rig&);
        const char* why;
    };
    const Case cases[] = {
        {"hot CPU", [](Rig& r) { r.hotAt = 30; }, "the CPU reached 91 \u00B0C"},
        {"vanishing reading", [](Rig& r) { r.goneAt = 40; }, "its speed reading disappeared"},
        {"cancelled", [](Rig& r) { r.stopAt = 10; }, "it was stopped before it finished"},
        {"no fan on the header", [](Rig& r) { r.fan.fullRPM = 0; },
         "it does not turn at full duty"},
        {"speed ignores the duty", [](Rig& r) { r.fan.neverStops = true, r.fan.floorDuty = 255; },
         "its speed does not follow its duty"},
        {"never settles",
         [](Rig& r) {
             r.noise = 300;
             r.timing.overallLimit = 120;
         },
         "it took longer than 2 minutes"},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.fan.duty = 0; // spun up from standstill by the first step
        rig.fan.turning = false;
        rig.fan.from = rig.fan.to = 0;
        c.arrange(rig);
        FanMeasurementRun run = measureFanLimits(rig.probe(), rig.timing);
        EXPECT_FALSE(run.measurement) << c.name;
        EXPECT_EQ(run.failure, c.why) << c.name;
    }
}

} // namespace
} // namespace ventoral
