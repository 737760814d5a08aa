// The Trio icon: what the status item pays per tick (a cache hit) and per change (a miss).
#include "application/menubar/TrioMenuBarIconRenderer.h"

#include <benchmark/benchmark.h>

namespace ventoral {
namespace {

namespace R = TrioMenuBarIconRenderer;

TrioIconRenderKey laptopKey() {
    TrioIconRenderKey key;
    key.pointSize = 22;
    key.batteryPresent = true;
    key.batteryPercent = 64;
    key.isCharging = true;
    key.isConnectedToPower = true;
    key.centerSlot = TrioCenterSlot::fanPercent;
    key.centerText = "42";
    key.fanPercentage = 42;
    return key;
}

void TrioCacheHit(benchmark::State& state) {
    auto key = laptopKey();
    R::render(key, 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(R::render(key, 2));
    }
}
BENCHMARK(TrioCacheHit);

void TrioCacheMiss22ptScale2(benchmark::State& state) {
    auto key = laptopKey();
    int percent = 0;
    for (auto _ : state) {
        key.batteryPercent = percent++ % 101; // a new key every time
        key.fanPercentage = percent / 101 % 101;
        R::RenderCache::shared().clear();
        benchmark::DoNotOptimize(R::render(key, 2));
    }
}
BENCHMARK(TrioCacheMiss22ptScale2)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace ventoral
