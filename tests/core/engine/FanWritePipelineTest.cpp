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
    auto first = pipeline.submit(fan(automatic, 0), rpm, mode, start, start);
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
        auto write = pipeline.submit(c.reported, c.desired, c.mode, start + c.age, start + c.age);
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
        auto first = pipeline.submit(fan(automatic, 0), 2000, manual, start, start);
        ASSERT_TRUE(first);
        for (float wish : {3100.0f, 3200.0f, c.last}) {
            EXPECT_FALSE(pipeline.submit(fan(automatic, 0), wish, manual, start, start));
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
    auto first = pipeline.submit(fan(automatic, 0), 2000, manual, start, start);
    EXPECT_FALSE(pipeline.submit(fan(automatic, 0), 2500, manual, start, start));
    pipeline.recordFailure(first->fanId);
    EXPECT_TRUE(pipeline.inFlightFanWrites().empty());
    EXPECT_TRUE(pipeline.pendingFanWrites().empty());
    EXPECT_TRUE(pipeline.lastWrittenState().empty());
    EXPECT_FALSE(pipeline.hasManualWrite());

    // An automatic write stores the fan's minimum.
    auto back = pipeline.submit(fan(manual, 3000), 3000, automatic, start, start);
    pipeline.recordSuccess(*back, start);
    EXPECT_EQ(pipeline.lastWrittenState().at(0).rpm, 1200);
    EXPECT_FALSE(pipeline.hasManualWrite());
}

// Ticks of a fan that another program keeps changing: each tick reads the fan, then submits.
struct Contest {
    FanWritePipeline pipeline;
    TimePoint now = start;
    int writes = 0;
    // One tick `later` after the last, reading the fan as `mode` at `target`; true when this
    // program wrote.
    bool tick(FanMode reported, float target, float desired = 3000) {
        now += 4s;
        auto write = pipeline.submit(fan(reported, target), desired, manual, now, now);
        if (write) {
            pipeline.recordSuccess(*write, now + 1ms);
            ++writes;
        }
        return write.has_value();
    }
    bool contested() { return pipeline.contestedFans().count(0) > 0; }
};

TEST(FanWritePipelineRules, AFanChangedAfterTwoWritesInARowIsLeftToItsOtherController) {
    Contest c;
    EXPECT_TRUE(c.tick(automatic, 0));    // taken
    EXPECT_FALSE(c.tick(manual, 2980));   // settled where the driver rounded it
    EXPECT_FALSE(c.tick(manual, 2990));   // holding
    EXPECT_TRUE(c.tick(automatic, 2990)); // changed behind our back: written again
    EXPECT_FALSE(c.tick(manual, 2985));
    EXPECT_FALSE(c.tick(manual, 1500)); // and again: given up
    EXPECT_TRUE(c.contested());
    EXPECT_FALSE(c.tick(automatic, 0));
    EXPECT_EQ(c.writes, 2);
    c.pipeline.releaseContestedFans(); // the user chose a preset
    EXPECT_TRUE(c.tick(automatic, 0));
    EXPECT_FALSE(c.contested());
}

TEST(FanWritePipelineRules, ChangesApartFromEachOtherAreNotAContest) {
    Contest c;
    EXPECT_TRUE(c.tick(automatic, 0));
    EXPECT_FALSE(c.tick(manual, 3000));
    EXPECT_TRUE(c.tick(automatic, 3000)); // once, say firmware after resume: written again
    EXPECT_FALSE(c.tick(manual, 3000));
    EXPECT_TRUE(c.tick(manual, 3000, 3500)); // a write of our own that held: the count restarts
    EXPECT_FALSE(c.tick(manual, 3500, 3500));
    EXPECT_TRUE(c.tick(automatic, 3500, 3500)); // a later change is a first one again
    EXPECT_FALSE(c.contested());

    // A reading from before a write took is not a change.
    FanWritePipeline p;
    auto w = p.submit(fan(automatic, 0), 3000, manual, start, start);
    p.recordSuccess(*w, start + 1s);
    EXPECT_FALSE(p.submit(fan(automatic, 0), 3000, manual, start + 2s, start + 500ms));
    EXPECT_FALSE(p.submit(fan(manual, 3000), 3000, manual, start + 3s, start + 3s));
    EXPECT_FALSE(p.submit(fan(manual, 3000), 3000, manual, start + 9s, start + 9s));
    EXPECT_TRUE(p.contestedFans().empty());

    // Under automatic control the fan's own speed changes are no one else's doing.
    FanWritePipeline selfControlled;
    auto back = selfControlled.submit(fan(manual, 3000), 0, FanMode::automatic, start, start);
    selfControlled.recordSuccess(*back, start + 1s);
    for (float speed : {2000.0f, 4000.0f, 1500.0f, 5000.0f}) {
        const auto at = start + std::chrono::seconds(static_cast<int>(speed) / 100);
        EXPECT_FALSE(
            selfControlled.submit(fan(FanMode::automatic, speed), 0, FanMode::automatic, at, at));
    }
    EXPECT_TRUE(selfControlled.contestedFans().empty());
}

} // namespace
} // namespace ventoral
