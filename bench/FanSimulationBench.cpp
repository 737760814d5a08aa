#include "core/simulation/FanSimulationService.h"

#include <benchmark/benchmark.h>

namespace {

void UpdatePhysicsStep(benchmark::State& state) {
    ventoral::FanSimulationService sim;
    for (auto _ : state) {
        sim.updatePhysics(0.5);
    }
    benchmark::DoNotOptimize(sim.model());
}
BENCHMARK(UpdatePhysicsStep);

} // namespace
