#include "core/telemetry/TelemetrySnapshot.h"

#include <benchmark/benchmark.h>

namespace {

using namespace ventoral;

TelemetrySnapshot fortySensors() {
    TelemetrySnapshot snapshot;
    for (int i = 0; i < 40; ++i) {
        auto category =
            allSensorCategories[static_cast<std::size_t>(i) % allSensorCategories.size()];
        snapshot.sensors.push_back({"s" + std::to_string(i), "Sensor", 30.0 + i * 1.7, category});
    }
    return snapshot;
}

void SummaryTemperatures40Sensors(benchmark::State& state) {
    const auto snapshot = fortySensors();
    for (auto _ : state) {
        benchmark::DoNotOptimize(snapshot.cpuTemperature());
        benchmark::DoNotOptimize(snapshot.gpuTemperature());
        benchmark::DoNotOptimize(snapshot.aneTemperature());
    }
}
BENCHMARK(SummaryTemperatures40Sensors);

} // namespace
