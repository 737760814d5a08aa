#include "core/smc/SMCService.h"
#include "platform/smc/EmulatedSmcTransport.h"

#include <benchmark/benchmark.h>

namespace {

using namespace ventoral;

struct LaptopService {
    EmulatedSmcTransport* smc;
    std::unique_ptr<SMCService> service;

    LaptopService() {
        auto transport = EmulatedSmcTransport::fromProfileFile(
            VENTORAL_SOURCE_DIR "/platform/smc/profiles/two-fan-laptop.json", false);
        smc = transport.get();
        service = std::make_unique<SMCService>(std::move(transport));
    }
};

template <typename Read> void measure(benchmark::State& state, Read read) {
    LaptopService laptop;
    read(*laptop.service); // the first read fills the key caches
    int before = laptop.smc->callCount();
    for (auto _ : state) {
        read(*laptop.service);
    }
    state.counters["calls/read"] = static_cast<double>(laptop.smc->callCount() - before) /
                                   static_cast<double>(state.iterations());
}

void LightPollReadFans(benchmark::State& state) {
    measure(state, [](SMCService& s) { benchmark::DoNotOptimize(s.readFans()); });
}
BENCHMARK(LightPollReadFans);

void LightPollPrimaryTemperatures(benchmark::State& state) {
    measure(state, [](SMCService& s) { benchmark::DoNotOptimize(s.readThermalSensors(true)); });
}
BENCHMARK(LightPollPrimaryTemperatures);

void PowerAndBatterySensors(benchmark::State& state) {
    measure(state, [](SMCService& s) { benchmark::DoNotOptimize(s.readPowerAndBatterySensors()); });
}
BENCHMARK(PowerAndBatterySensors);

} // namespace
