#include "core/presets/FanPresetManager.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

const FanInfo fan{0, "Fan", 2000, 1200, 6000, 2500, FanMode::automatic, false};

TelemetrySnapshot cpuAt(double t) {
    TelemetrySnapshot s;
    s.sensors = {{"cpu", "CPU", t, SensorCategory::cpu}};
    return s;
}

TargetEvaluation evaluate(ActivePresetSelection selection, double t,
                          const std::vector<CustomCurvePreset>& presets = {},
                          std::optional<float> fixed = std::nullopt, const ManualRPMMap& saved = {},
                          const FanInfo& f = fan) {
    return evaluateTarget(f, cpuAt(t), fixed, selection, presets, saved);
}

TEST(EvaluateTarget, WorkedValuesOfTheBuiltinPresets) {
    using B = BuiltinPresetType;
    struct Case {
        B type;
        double t;
        float rpm;
    };
    const Case cases[] = {
        {B::silent, 70, 1500},   {B::silent, 84.9, 1500}, {B::silent, 85, 1200},
        {B::silent, 92.5, 3600}, {B::silent, 100, 6000},  {B::silent, 110, 6000},
        {B::balanced, 30, 1200}, {B::balanced, 45, 1200}, {B::balanced, 62.5, 3120},
        {B::balanced, 80, 5040}, {B::balanced, 95, 5040}, {B::turbo, 20, 2640},
        {B::turbo, 40, 2640},    {B::turbo, 52.5, 3960},  {B::turbo, 65, 5280},
        {B::turbo, 85, 6000},    {B::turbo, 120, 6000},   {B::max, 30, 6000},
    };
    for (auto c : cases) {
        auto result = evaluate(ActivePresetSelection::builtin(c.type), c.t);
        EXPECT_EQ(result.targetRPM, c.rpm) << rawValue(c.type) << " at " << c.t;
        EXPECT_EQ(result.mode, FanMode::manual);
    }
    EXPECT_EQ(evaluate(ActivePresetSelection::builtin(B::automatic), 90),
              (TargetEvaluation{1200, FanMode::automatic}));
}

TEST(EvaluateTarget, SilentOnANarrowRangeStopsAtMax) {
    FanInfo narrow = fan;
    narrow.minRPM = 1200;
    narrow.maxRPM = 1400;
    auto result = evaluate(ActivePresetSelection::builtin(BuiltinPresetType::silent), 60, {},
                           std::nullopt, {}, narrow);
    EXPECT_EQ(result.targetRPM, 1400);
}

TEST(EvaluateTarget, CustomCurveFollowsItsBoundSensor) {
    CustomCurvePreset preset(
        Uuid::random(), "Curve", TargetSensorBinding::gpuPeak,
        {CurveControlPoint(Uuid::random(), 40, 0), CurveControlPoint(Uuid::random(), 80, 100)},
        true);
    // No GPU sensor: the GPU reading is 0.95 × the CPU one (60 °C → 57 °C → 42.5 %).
    auto result = evaluate(ActivePresetSelection::custom(preset.id), 60, {preset});
    EXPECT_FLOAT_EQ(result.targetRPM, 1200 + 4800 * 0.425f);
    EXPECT_EQ(result.mode, FanMode::manual);

    EXPECT_EQ(evaluate(ActivePresetSelection::custom(Uuid::random()), 60, {preset}),
              (TargetEvaluation{1200, FanMode::automatic}));
}

TEST(EvaluateTarget, ManualFixedSpeeds) {
    const auto manual = ActivePresetSelection::manualFixed();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* label;
        std::optional<float> fixed;
        ManualRPMMap saved;
        float targetRPM; // the fan's own target
        float expected;
    };
    const Case cases[] = {
        {"fixed beyond max", 99999.0f, {}, 2500, 6000},
        {"fixed below min", 10.0f, {{0, 3000}}, 2500, 1200},
        {"fixed wins over saved", 3333.0f, {{0, 3000}}, 2500, 3333},
        {"saved speed", std::nullopt, {{0, 3000}}, 2500, 3000},
        {"other fan's saved speed ignored", std::nullopt, {{1, 3000}}, 2500, 2500},
        {"nothing: own target clamped", std::nullopt, {}, 9000, 6000},
        {"non-finite fixed: own target", nan, {{0, 3000}}, 1000, 1200},
        {"own target not a number: min", std::nullopt, {}, nan, 1200},
    };
    for (const auto& c : cases) {
        FanInfo f = fan;
        f.targetRPM = c.targetRPM;
        auto result = evaluate(manual, 50, {}, c.fixed, c.saved, f);
        EXPECT_EQ(result, (TargetEvaluation{c.expected, FanMode::manual})) << c.label;
    }
}

} // namespace
} // namespace ventoral
