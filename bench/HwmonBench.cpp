#include "core/smc/SMCService.h"
#include "platform/hwmon/HwmonInventory.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/hwmon/HwmonThermalChannelSource.h"
#include "platform/sysfs/SysfsFiles.h"
#include "tests/support/SysfsFixture.h"

#include <benchmark/benchmark.h>

namespace {

using namespace ventoral;

bool isPrimaryName(const std::string& product) {
    auto category = classifyThermalChannelName(product);
    return category == SensorCategory::cpu || category == SensorCategory::gpu ||
           category == SensorCategory::ane;
}

// The light poll through the service: fans plus the primary temperatures.
void LightPollThroughService(benchmark::State& state) {
    testing::SysfsFixture fixture;
    testing::nct6775Desktop(fixture);
    SMCService service(std::make_unique<HwmonSmcTransport>(
                           fixture.root(), FanControlMemory::folderFor(fixture.root())),
                       std::make_shared<HwmonThermalChannelSource>(fixture.root()));
    service.readFans();
    service.readThermalSensors(true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(service.readFans());
        benchmark::DoNotOptimize(service.readThermalSensors(true));
    }
}
BENCHMARK(LightPollThroughService);

// The same files read by a plain loop of open/read/close: the floor the service is held to.
void LightPollPlainFileReads(benchmark::State& state) {
    testing::SysfsFixture fixture;
    testing::nct6775Desktop(fixture);
    auto inventory = scanHwmon(fixture.root());
    std::vector<std::string> paths;
    for (const auto& fan : inventory.fans) {
        paths.push_back(fan.input);
        paths.push_back(fan.pwm.value_or(fan.input));
        paths.push_back(fan.pwmEnable.value_or(fan.input));
    }
    for (const auto& t : inventory.temperatures) {
        if (isPrimaryName(t.product())) {
            paths.push_back(t.input);
        }
    }
    paths.push_back(inventory.temperatures[0].input); // TG0P
    paths.push_back(inventory.temperatures[3].input); // TC0P
    for (auto _ : state) {
        for (const auto& path : paths) {
            benchmark::DoNotOptimize(sysfs::readInteger(path));
        }
    }
    state.counters["files"] = static_cast<double>(paths.size());
}
BENCHMARK(LightPollPlainFileReads);

} // namespace
