#include "core/presets/FanPresetManager.h"

#include <benchmark/benchmark.h>

namespace {

using namespace ventoral;

TelemetrySnapshot warmSnapshot() {
    TelemetrySnapshot snapshot;
    for (int i = 0; i < 12; ++i) {
        snapshot.sensors.push_back({"c" + std::to_string(i), "CPU", 55.0 + i, SensorCategory::cpu});
    }
    snapshot.sensors.push_back({"g", "GPU", 61.0, SensorCategory::gpu});
    return snapshot;
}

void EvaluateTargetRPM(benchmark::State& state) {
    FanPresetManager manager(std::make_shared<InMemoryDefaultsStore>());
    manager.saveManualRPM({{0, 3000}, {1, 3100}});
    const FanInfo fan{0, "Fan", 2000, 1200, 6000, 2000, FanMode::manual, true};
    const auto snapshot = warmSnapshot();
    const ActivePresetSelection selections[] = {
        ActivePresetSelection::builtin(BuiltinPresetType::balanced),
        ActivePresetSelection::custom(manager.customPresets()[0].id),
        ActivePresetSelection::manualFixed(),
    };
    const auto selection = selections[state.range(0)];
    for (auto _ : state) {
        benchmark::DoNotOptimize(manager.evaluateTargetRPM(fan, snapshot, std::nullopt, selection));
    }
    state.SetLabel(selection.title());
}
BENCHMARK(EvaluateTargetRPM)->DenseRange(0, 2);

void LoadPresetsFromPopulatedStore(benchmark::State& state) {
    auto store = std::make_shared<InMemoryDefaultsStore>();
    FanPresetManager manager(store);
    for (int i = 0; i < 20; ++i) {
        std::vector<CurveControlPoint> points;
        for (int p = 0; p < 8; ++p) {
            points.emplace_back(Uuid::random(), 30.0 + p * 9, p * 12.5);
        }
        manager.savePreset(CustomCurvePreset(Uuid::random(), "Curve " + std::to_string(i),
                                             TargetSensorBinding::cpuAverage, points, true));
    }
    manager.saveManualRPM({{0, 2000}, {1, 2100}});
    manager.setActiveSelection(ActivePresetSelection::custom(manager.customPresets()[5].id));
    for (auto _ : state) {
        manager.loadPresets();
    }
}
BENCHMARK(LoadPresetsFromPopulatedStore);

} // namespace
