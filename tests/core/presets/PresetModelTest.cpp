#include "core/presets/PresetModel.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

Uuid fixedId(std::uint8_t n) {
    Uuid::Bytes bytes{};
    bytes[15] = n;
    return Uuid(bytes);
}

CustomCurvePreset curve(std::vector<std::pair<double, double>> points) {
    std::vector<CurveControlPoint> list;
    std::uint8_t n = 1;
    for (auto [t, p] : points) {
        list.emplace_back(fixedId(n++), t, p);
    }
    return CustomCurvePreset(fixedId(0), "Curve", TargetSensorBinding::cpuAverage, list, false);
}

TEST(BuiltinPresetType, TitlesSubtitlesIcons) {
    const char* raws[] = {"Auto (System)", "Silent", "Balanced", "Turbo", "Max (Full Blast)"};
    for (std::size_t i = 0; i < allBuiltinPresetTypes.size(); ++i) {
        EXPECT_EQ(rawValue(allBuiltinPresetTypes[i]), raws[i]);
        EXPECT_EQ(builtinPresetTypeFromRaw(raws[i]), allBuiltinPresetTypes[i]);
    }
    EXPECT_EQ(subtitle(BuiltinPresetType::balanced), "Linear ramp 45\u00B0C\u201380\u00B0C");
    EXPECT_EQ(subtitle(BuiltinPresetType::silent), "Quiet fan profile up to 85\u00B0C");
    EXPECT_EQ(iconName(BuiltinPresetType::max), "wind");
    EXPECT_FALSE(builtinPresetTypeFromRaw("turbo"));
    EXPECT_FALSE(builtinPresetTypeFromRaw("Auto"));
}

TEST(TargetSensorBinding, RawValuesAndTemperatures) {
    EXPECT_EQ(rawValue(TargetSensorBinding::ane), "Neural Engine (ANE)");
    EXPECT_EQ(targetSensorBindingFromRaw("GPU Peak"), TargetSensorBinding::gpuPeak);
    EXPECT_FALSE(targetSensorBindingFromRaw("GPU"));
    TelemetrySnapshot s;
    s.sensors = {{"a", "a", 50, SensorCategory::cpu},
                 {"b", "b", 70, SensorCategory::cpu},
                 {"c", "c", 66, SensorCategory::gpu}};
    EXPECT_EQ(temperature(TargetSensorBinding::cpuAverage, s), 60);
    EXPECT_EQ(temperature(TargetSensorBinding::gpuPeak, s), 66);
    EXPECT_EQ(temperature(TargetSensorBinding::ane, s), 54);
}

TEST(CurveControlPoint, RepairsOnConstruction) {
    struct Case {
        double t, p, expectedT, expectedP;
    };
    const Case cases[] = {{130, -5, 105, 0},
                          {nan, nan, 45, 50},
                          {-inf, inf, 45, 50},
                          {19, 101, 20, 100},
                          {55.5, 42.25, 55.5, 42.25}};
    for (auto c : cases) {
        CurveControlPoint point(fixedId(1), c.t, c.p);
        EXPECT_EQ(point.temperature, c.expectedT) << c.t;
        EXPECT_EQ(point.rpmPercentage, c.expectedP) << c.p;
    }
}

TEST(CustomCurvePreset, ConstructionSortsStably) {
    auto preset = curve({{70, 1}, {40, 2}, {70, 3}, {20, 4}});
    std::vector<double> percents;
    for (const auto& p : preset.controlPoints) {
        percents.push_back(p.rpmPercentage);
    }
    EXPECT_EQ(percents, (std::vector<double>{4, 2, 1, 3}));
}

TEST(CustomCurvePreset, TargetPercentage) {
    struct Case {
        const char* label;
        std::vector<std::pair<double, double>> points;
        double t, expected;
    };
    const Case cases[] = {
        {"no points", {}, 50, 0},
        {"one point below", {{60, 35}}, 20, 35},
        {"one point above", {{60, 35}}, 100, 35},
        {"not finite", {{40, 10}, {80, 90}}, nan, 0},
        {"infinite", {{40, 10}, {80, 90}}, inf, 0},
        {"flat before", {{40, 10}, {80, 90}}, 30, 10},
        {"flat after", {{40, 10}, {80, 90}}, 95, 90},
        {"interpolates", {{40, 10}, {80, 90}}, 60, 50},
        {"unsorted input", {{80, 90}, {40, 10}}, 60, 50},
        {"equal temps inside: earlier wins", {{40, 0}, {60, 30}, {60, 70}, {80, 100}}, 60, 30},
        {"equal temps last: last wins", {{40, 0}, {80, 30}, {80, 70}}, 80, 70},
        {"neighbours 0.001 apart", {{40, 0}, {50, 20}, {50.001, 80}, {90, 100}}, 50.0005, 20},
        {"neighbours just further", {{40, 0}, {50, 20}, {50.002, 80}, {90, 100}}, 50.001, 50},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(curve(c.points).targetPercentage(c.t), c.expected, 1e-9) << c.label;
    }
}

TEST(CustomCurvePreset, DecodedOrderIsKeptButEvaluatesSorted) {
    auto preset = curve({{40, 10}, {80, 90}});
    std::swap(preset.controlPoints[0], preset.controlPoints[1]);
    auto decoded = customCurvePresetFromJson(toJson(preset));
    EXPECT_EQ(decoded.controlPoints[0].temperature, 80);
    EXPECT_EQ(decoded, preset);
    EXPECT_DOUBLE_EQ(decoded.targetPercentage(60), 50);
}

TEST(CustomCurvePresetJson, WritesCompactDocument) {
    auto preset = curve({{45, 25}, {65.5, 60}});
    EXPECT_EQ(
        toJson(preset).dump(),
        R"({"id":"00000000-0000-0000-0000-000000000000","name":"Curve",)"
        R"("sensorBinding":"CPU Average","controlPoints":[)"
        R"({"id":"00000000-0000-0000-0000-000000000001","temperature":45,"rpmPercentage":25},)"
        R"({"id":"00000000-0000-0000-0000-000000000002","temperature":65.5,"rpmPercentage":60}],)"
        R"("isLinked":false})");
}

TEST(CustomCurvePresetJson, RepairsPointsAndRejectsBadShapes) {
    auto point = curveControlPointFromJson(Json::parse(
        R"({"id":"00000000-0000-0000-0000-000000000009","temperature":130,"rpmPercentage":-5})"));
    EXPECT_EQ(point.temperature, 105);
    EXPECT_EQ(point.rpmPercentage, 0);

    const Json valid = toJson(curve({{45, 25}}));
    const std::vector<std::pair<const char*, std::function<void(Json&)>>> broken{
        {"missing isLinked", [](Json& j) { j.erase("isLinked"); }},
        {"bad uuid", [](Json& j) { j["id"] = "not-a-uuid"; }},
        {"unknown binding", [](Json& j) { j["sensorBinding"] = "cpu"; }},
        {"points not array", [](Json& j) { j["controlPoints"] = Json::object(); }},
        {"point missing percentage", [](Json& j) { j["controlPoints"][0].erase("rpmPercentage"); }},
        {"point temperature text", [](Json& j) { j["controlPoints"][0]["temperature"] = "45"; }},
        {"name number", [](Json& j) { j["name"] = 3; }},
    };
    for (const auto& [label, mutate] : broken) {
        Json json = valid;
        mutate(json);
        EXPECT_THROW(customCurvePresetFromJson(json), DecodingError) << label;
    }
    EXPECT_THROW(customCurvePresetsFromJson(Json::object()), DecodingError);
    EXPECT_TRUE(customCurvePresetsFromJson(Json::array()).empty());
}

TEST(ActivePresetSelection, TitlesAndEquality) {
    EXPECT_EQ(ActivePresetSelection::builtin(BuiltinPresetType::turbo).title(), "Turbo");
    EXPECT_EQ(ActivePresetSelection::custom(fixedId(3)).title(), "Custom Curve");
    EXPECT_EQ(ActivePresetSelection::manualFixed().title(), "Manual RPM");
    EXPECT_EQ(ActivePresetSelection::custom(fixedId(3)), ActivePresetSelection::custom(fixedId(3)));
    EXPECT_NE(ActivePresetSelection::custom(fixedId(3)), ActivePresetSelection::custom(fixedId(4)));
    EXPECT_NE(ActivePresetSelection::builtin(BuiltinPresetType::automatic),
              ActivePresetSelection::manualFixed());
}

TEST(ActivePresetSelectionJson, EncodesEachCase) {
    const std::pair<ActivePresetSelection, const char*> cases[] = {
        {ActivePresetSelection::builtin(BuiltinPresetType::balanced),
         R"({"builtin":{"_0":"Balanced"}})"},
        {ActivePresetSelection::custom(*Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f")),
         R"({"custom":{"_0":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"}})"},
        {ActivePresetSelection::manualFixed(), R"({"manualFixed":{}})"},
    };
    for (const auto& [selection, text] : cases) {
        EXPECT_EQ(toJson(selection).dump(), text);
        EXPECT_EQ(activePresetSelectionFromJson(Json::parse(text)), selection);
    }
}

TEST(ActivePresetSelectionJson, DecodingRules) {
    struct Case {
        const char* text;
        std::optional<ActivePresetSelection> expected; // none: must fail
        const char* message = nullptr;
    };
    const char* keys = "Invalid number of keys found, expected one.";
    const Case cases[] = {
        {R"({})", std::nullopt, keys},
        {R"({"builtin":{"_0":"Turbo"},"custom":{"_0":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"}})",
         std::nullopt, keys},
        {R"({"other":{}})", std::nullopt, keys},
        {R"({"builtin":{"_0":"turbo"}})", std::nullopt},
        {R"({"builtin":{}})", std::nullopt},
        {R"({"builtin":"Turbo"})", std::nullopt},
        {R"({"custom":{"_0":"nope"}})", std::nullopt},
        {R"({"manualFixed":[]})", std::nullopt},
        {R"("manualFixed")", std::nullopt},
        {R"({"manualFixed":{"anything":1}})", ActivePresetSelection::manualFixed()},
        {R"({"builtin":{"_0":"Silent","_1":"x"}})",
         ActivePresetSelection::builtin(BuiltinPresetType::silent)},
        {R"({"custom":{"_0":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f"}})",
         ActivePresetSelection::custom(*Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"))},
    };
    for (const auto& c : cases) {
        if (c.expected) {
            EXPECT_EQ(activePresetSelectionFromJson(Json::parse(c.text)), *c.expected) << c.text;
            continue;
        }
        try {
            activePresetSelectionFromJson(Json::parse(c.text));
            ADD_FAILURE() << c.text << " decoded";
        } catch (const DecodingError& error) {
            if (c.message) {
                EXPECT_STREQ(error.what(), c.message) << c.text;
            }
        }
    }
}

} // namespace
} // namespace ventoral
