#include "platform/hwmon/FanDutyMap.h"

#include <gtest/gtest.h>
#include <limits>
#include <tuple>

namespace ventoral {
namespace {

TEST(FanDutyMap, StraightLineAcrossTheRange) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // rpm, slowest, fastest, duty (from duty 0)
    const std::tuple<float, float, float, int> cases[] = {
        {0, 0, 6500, 0},         {6500, 0, 6500, 255}, {9000, 0, 6500, 255},
        {-5, 0, 6500, 0},        {3250, 0, 6500, 128}, {1200, 1200, 6200, 0},
        {3700, 1200, 6200, 128}, {nan, 0, 6500, 255},  {3000, 5000, 5000, 255}};
    for (auto [rpm, lo, hi, duty] : cases) {
        EXPECT_EQ(FanDutyMap::linear(0, lo, hi).dutyFor(rpm), duty)
            << rpm << " in " << lo << "-" << hi;
    }
}

TEST(FanDutyMap, NothingBelowTheFloor) {
    const FanDutyMap map = FanDutyMap::linear(77, 1200, 6500);
    for (float rpm : {0.0f, 63.0f, 300.0f, 1200.0f}) {
        EXPECT_EQ(map.dutyFor(rpm), 77) << rpm;
    }
    EXPECT_EQ(map.dutyFor(3850), 166);
    EXPECT_EQ(map.dutyFor(6500), 255);
    EXPECT_FLOAT_EQ(map.speedFor(0), 1200);
    EXPECT_FLOAT_EQ(map.speedFor(166), 3850);
    EXPECT_FLOAT_EQ(map.speedFor(255), 6500);
}

TEST(FanDutyMap, MeasuredPointsAreFollowed) {
    // A fan that flattens out at the top, read in the order it was measured, with a glitch
    // (a slower reading at a higher duty) that must not make the map fall.
    const FanDutyMap map(
        {{255, 1800}, {231, 1800}, {200, 1500}, {120, 900}, {140, 880}, {64, 400}});
    EXPECT_EQ(map.points().front(), (DutyPoint{64, 400}));
    EXPECT_EQ(map.dutyFor(400), 64);
    EXPECT_EQ(map.dutyFor(650), 92);   // halfway between 64 and 120
    EXPECT_EQ(map.dutyFor(900), 120);  // the first duty that reaches it
    EXPECT_EQ(map.dutyFor(1800), 231); // no need for full duty where it is already flat
    EXPECT_EQ(map.dutyFor(1900), 255);
    EXPECT_FLOAT_EQ(map.speedFor(130), 900);
    EXPECT_FLOAT_EQ(map.speedFor(92), 650);
}

TEST(FanDutyMap, UnusablePointsMeanFullDuty) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const auto& points : {std::vector<DutyPoint>{},
                               {{100, 900}},
                               {{-1, 100}, {300, 2000}, {120, nan}},
                               {{100, 900}, {200, 900}}}) {
        FanDutyMap map(points);
        EXPECT_TRUE(map.points().empty());
        EXPECT_EQ(map.dutyFor(500), 255);
    }
}

} // namespace
} // namespace ventoral
