#include "core/telemetry/FanInfo.h"

#include <functional>
#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float inf = std::numeric_limits<float>::infinity();

FanInfo fan(float current, float min, float max, float target = 0) {
    return FanInfo{0, "Fan", current, min, max, target, FanMode::automatic, false};
}

TEST(FanMode, RawValuesAndTitles) {
    EXPECT_EQ(fanModeFromRaw(0), FanMode::automatic);
    EXPECT_EQ(fanModeFromRaw(1), FanMode::manual);
    EXPECT_FALSE(fanModeFromRaw(2));
    EXPECT_FALSE(fanModeFromRaw(-1));
    EXPECT_EQ(title(FanMode::automatic), "System Auto");
    EXPECT_EQ(title(FanMode::manual), "Manual Forced");
}

struct PercentageCase {
    float speed, min, max;
    double expected;
};

class FanPercentage : public testing::TestWithParam<PercentageCase> {};

TEST_P(FanPercentage, ClampsIntoTheRangeAndGuardsBadRanges) {
    const auto& c = GetParam();
    EXPECT_DOUBLE_EQ(fan(c.speed, c.min, c.max).percentage(), c.expected);
    EXPECT_DOUBLE_EQ(fan(0, c.min, c.max, c.speed).targetPercentage(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FanPercentage,
    testing::Values(PercentageCase{7000, 1200, 6000, 1.0}, PercentageCase{0, 1200, 6000, 0.0},
                    PercentageCase{3600, 1200, 6000, 0.5}, PercentageCase{3000, 3000, 3000, 0.0},
                    PercentageCase{3000, 6000, 1200, 0.0}, PercentageCase{nan, 1200, 6000, 0.0},
                    PercentageCase{3000, nan, 6000, 0.0}, PercentageCase{3000, 1200, inf, 0.0},
                    PercentageCase{inf, 1200, 6000, 0.0}));

TEST(FanInfoJson, EncodesFieldsInOrderAndRoundTrips) {
    FanInfo original{1, "Right", 2200.5f, 1250, 6500, 0.1f, FanMode::manual, true};
    Json json = toJson(original);
    EXPECT_EQ(json.dump(), R"({"id":1,"name":"Right","currentRPM":2200.5,"minRPM":1250,)"
                           R"("maxRPM":6500,"targetRPM":0.1,"mode":1,"isForced":true})");
    EXPECT_EQ(fanInfoFromJson(json), original);
}

TEST(FanInfoJson, RejectsMissingMembersWrongTypesAndUnknownModes) {
    const Json valid =
        toJson(FanInfo{0, "Left", 2000, 1200, 6000, 2000, FanMode::automatic, false});
    struct Mutation {
        const char* label;
        std::function<void(Json&)> apply;
        const char* message;
    };
    const std::vector<Mutation> mutations{
        {"missing name", [](Json& j) { j.erase("name"); }, "FanInfo: missing member \"name\""},
        {"mode 2", [](Json& j) { j["mode"] = 2; }, "FanInfo.mode: unknown fan mode 2"},
        {"mode as text", [](Json& j) { j["mode"] = "0"; },
         "FanInfo.mode: expected an integer, found a string"},
        {"isForced as number", [](Json& j) { j["isForced"] = 0; },
         "FanInfo.isForced: expected a boolean, found an integer"},
        {"rpm as null", [](Json& j) { j["currentRPM"] = nullptr; },
         "FanInfo.currentRPM: expected a number, found null"},
        {"id fractional", [](Json& j) { j["id"] = 1.5; },
         "FanInfo.id: expected an integer, found 1.5"},
    };
    for (const auto& m : mutations) {
        Json json = valid;
        m.apply(json);
        try {
            fanInfoFromJson(json);
            ADD_FAILURE() << m.label << " decoded";
        } catch (const DecodingError& error) {
            EXPECT_STREQ(error.what(), m.message) << m.label;
        }
    }
    EXPECT_THROW(fanInfoFromJson(Json::array()), DecodingError);
}

} // namespace
} // namespace ventoral
