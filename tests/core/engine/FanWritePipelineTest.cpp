#include "core/engine/FanWritePipeline.h"

#include <cmath>
#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace std::chrono_literals;
constexpr auto manual = FanMode::manual;
constexpr auto automatic = FanMode::automatic;

FanInfo fan(FanMode reported, float target) {
    return {0, "Fan", 2000, 1200, 6000, target, reported, reported == manual};
}

const TimePoint start{};

// A pipeline whose fan 0 was last written (`mode`, `rpm`) at `start`.
FanWritePipeline writtenOnce(FanMode mode, float rpm) {
    FanWritePipeline pipeline;
    auto first = pipeline.submit(fan(automatic, 0), rpm, mode, start);
    pipeline.recordSuccess(*first, start);
    return pipeline;
}

TEST(FanWritePipelineRules, WritesOnlyWhatIsNotAlreadyInPlace) {
    struct Case {
        const char* name;
        FanMode lastMode;
        float lastRPM;
        FanInfo reported;
        float desired;
        FanMode mode;
        std::chrono::milliseconds age;
        bool writes;
    };
    const Case cases[] = {
        {"same manual target", manual, 3000, fan(manual, 3000), 3000, manual, 1s, false},
        {"14 RPM away", manual, 3000, fan(manual, 3000), 3014, manual, 1s, false},
        {"15 RPM away", manual, 3000, fan(manual, 3000), 3015, manual, 1s, true},
        {"not a number", manual, 3000, fan(manual, 3000), NAN, manual, 1s, true},
        {"fan reports auto, young", manual, 3000, fan(automatic, 3000), 3000, manual, 3s, false},
        {"fan reports auto, old", manual, 3000, fan(automatic, 3000), 3000, manual, 3001ms, true},
        {"target drifted, old", manual, 3000, fan(manual, 3050), 3000, manual, 4s, true},
        {"target drifted 49, old", manual, 3000, fan(manual, 3049), 3000, manual, 4s, false},
        {"auto again", automatic, 1200, fan(automatic, 0), 2000, automatic, 10s, false},
        {"auto, fan still manual, young", automatic, 1200, fan(manual, 0), 0, automatic, 2s, false},
        {"auto, fan still manual, old", automatic, 1200, fan(manual, 0), 0, automatic, 4s, true},
        {"other mode", automatic, 1200, fan(automatic, 0), 3000, manual, 0s, true},
    };
    for (const auto& c : cases) {
        FanWritePipeline pipeline = writtenOnce(c.lastMode, c.lastRPM);
        auto write = pipeline.submit(c.reported, c.desired, c.mode, start + c.age);
        EXPECT_EQ(write.has_value(), c.writes) << c.name;
        EXPECT_EQ(pipeline.inFlightFanWrites().count(0), c.writes ? 1u : 0u) << c.name;
    }
}

TEST(FanWritePipelineRules, ABusyFanParksOnlyTheNewestWish) {
    struct Case {
        float last;
        std::optional<FanWriteRequest> follows;
    };
    const Case cases[] = {
        {3300, FanWriteRequest{0, 3300, manual, 1200}},
        {2004, std::nullopt}, // within 5 RPM of what was just written
    };
    for (const auto& c : cases) {
        FanWritePipeline pipeline;
        auto first = pipeline.submit(fan(automatic, 0), 2000, manual, start);
        ASSERT_TRUE(first);
        for (float wish : {3100.0f, 3200.0f, c.last}) {
            EXPECT_FALSE(pipeline.submit(fan(automatic, 0), wish, manual, start));
        }
        EXPECT_EQ(pipeline.pendingFanWrites().at(0), (PendingFanWrite{c.last, manual, 1200}));
        pipeline.recordSuccess(*first, start + 1s);
        EXPECT_EQ(pipeline.lastWrittenState().at(0), (WrittenFanState{2000, manual, start + 1s}));
        EXPECT_EQ(pipeline.takeParked(0), c.follows) << c.last;
        EXPECT_TRUE(pipeline.pendingFanWrites().empty());
        EXPECT_EQ(pipeline.inFlightFanWrites().count(0), c.follows ? 1u : 0u);
    }
}

TEST(FanWritePipelineRules, AFailureDropsTheParkedWishAndRecordsNothing) {
    FanWritePipeline pipeline;
    auto first = pipeline.submit(fan(automatic, 0), 2000, manual, start);
    EXPECT_FALSE(pipeline.submit(fan(automatic, 0), 2500, manual, start));
    pipeline.recordFailure(first->fanId);
    EXPECT_TRUE(pipeline.inFlightFanWrites().empty());
    EXPECT_TRUE(pipeline.pendingFanWrites().empty());
    EXPECT_TRUE(pipeline.lastWrittenState().empty());
    EXPECT_FALSE(pipeline.hasManualWrite());

    // An automatic write stores the fan's minimum.
    auto back = pipeline.submit(fan(manual, 3000), 3000, automatic, start);
    pipeline.recordSuccess(*back, start);
    EXPECT_EQ(pipeline.lastWrittenState().at(0).rpm, 1200);
    EXPECT_FALSE(pipeline.hasManualWrite());
}

} // namespace
} // namespace ventoral
