// One engine tick, light and full, on the emulated two-fan machine and on a desktop fixture.
#include "application/engine/FanViewModel.h"
#include "core/common/DefaultsStore.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/smc/EmulatedSmcTransport.h"
#include "tests/application/engine/AssembledDesktop.h"
#include "tests/support/SysfsFixture.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace ventoral {
namespace {

class NoWriter final : public FanWriter {
public:
    PrivilegedWriteMode checkPrivilegeStatus() const override {
        return PrivilegedWriteMode::privilegedHelper;
    }
    void setFanRPM(std::int64_t, float, WriteCompletion done) override { done(std::nullopt); }
    void setFanMode(std::int64_t, FanMode, WriteCompletion done) override { done(std::nullopt); }
    void restoreAllFansToAuto(WriteCompletion done) override { done(std::nullopt); }
    void restoreAllFansToAutoSynchronously(double) override {}
    void authorize(WriteCompletion done) override { done(std::nullopt); }
    void setLowPowerMode(bool, WriteCompletion done) override { done(std::nullopt); }
    void calibrateFan(std::int64_t, CalibrationProgress, CalibrationCompletion done) override {
        done({});
    }
};

struct Machine {
    explicit Machine(std::unique_ptr<SmcTransport> transport)
        : smc(std::move(transport)), sim(SimulationHost{}) {
        PowerBatteryPlatform p;
        p.readPowerSensors = [this] { return smc.readPowerAndBatterySensors(); };
        p.now = systemWallClock();
        power = PowerBatteryService::make(p);
        FanViewModelCollaborators c(smc, sim, *power, presets, writer);
        engine = std::make_unique<FanViewModel>(std::move(c), true);
        engine->stopTelemetry(); // ticks are driven by the benchmark, not a timer
        engine->startTelemetry();
        engine->timer()->stop();
    }
    SMCService smc;
    FanSimulationService sim;
    std::shared_ptr<PowerBatteryService> power;
    FanPresetManager presets{std::make_shared<InMemoryDefaultsStore>()};
    NoWriter writer;
    std::unique_ptr<FanViewModel> engine;
};

std::unique_ptr<SmcTransport> emulated() {
    return EmulatedSmcTransport::fromProfileFile(
        std::string(VENTORAL_SOURCE_DIR) + "/platform/smc/profiles/two-fan-laptop.json", true);
}

void tick(benchmark::State& state, Machine& m, bool full) {
    m.engine->setDashboardVisible(full);
    for (auto _ : state) {
        m.engine->telemetryTick();
    }
}

void EngineLightTickEmulated(benchmark::State& state) {
    Machine m(emulated());
    tick(state, m, false);
}
BENCHMARK(EngineLightTickEmulated)->Unit(benchmark::kMicrosecond);

void EngineFullTickEmulated(benchmark::State& state) {
    Machine m(emulated());
    tick(state, m, true);
}
BENCHMARK(EngineFullTickEmulated)->Unit(benchmark::kMicrosecond);

// The steady state of a preset: one evaluation over two fans with nothing to write.
void EnginePresetEvaluationNothingToWrite(benchmark::State& state) {
    Machine m(emulated());
    m.engine->selectPreset(ActivePresetSelection::builtin(BuiltinPresetType::balanced));
    m.engine->evaluatePresetRules(false);
    for (auto _ : state) {
        m.engine->evaluatePresetRules(false);
    }
}
BENCHMARK(EnginePresetEvaluationNothingToWrite)->Unit(benchmark::kMicrosecond);

// The running program's tick on the desktop fixture beside a plain loop over exactly the files
// that tick opens, found in the same run.
void EngineTickAssembledDesktop(benchmark::State& state) {
    NoWriter writer;
    testing::AssembledDesktop desktop(writer);
    desktop.setFull(state.range(0) != 0);
    const auto files = desktop.countedTick();
    state.counters["files"] = static_cast<double>(files.size());
    for (auto _ : state) {
        desktop.engine->telemetryTick();
    }
}
BENCHMARK(EngineTickAssembledDesktop)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"full"})
    ->Unit(benchmark::kMicrosecond);

// Exactly the files a tick opens, read in a plain loop: the floor for that tick.
class PlainLoop {
public:
    explicit PlainLoop(const std::map<std::string, int>& files) {
        for (const auto& [path, count] : files) {
            paths_.emplace_back(path, std::filesystem::is_directory(path));
        }
    }
    std::size_t size() const { return paths_.size(); }
    void run() {
        char buffer[4096];
        for (const auto& [path, folder] : paths_) {
            if (folder) {
                if (DIR* dir = ::opendir(path.c_str())) {
                    while (::readdir(dir)) {
                    }
                    ::closedir(dir);
                }
                continue;
            }
            int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
                ::close(fd);
            }
        }
    }

private:
    std::vector<std::pair<std::string, bool>> paths_; // and whether it is a folder
};

void PlainLoopOverTheTicksFiles(benchmark::State& state) {
    NoWriter writer;
    testing::AssembledDesktop desktop(writer);
    desktop.setFull(state.range(0) != 0);
    PlainLoop loop(desktop.countedTick(false));
    state.counters["files"] = static_cast<double>(loop.size());
    for (auto _ : state) {
        loop.run();
    }
}
BENCHMARK(PlainLoopOverTheTicksFiles)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"full"})
    ->Unit(benchmark::kMicrosecond);

// The tick and the plain loop taken in turns, so that a machine that slows down or speeds up
// in the meantime weighs on both alike; "ratio" is the tick's time over the loop's.
void TickOverPlainLoop(benchmark::State& state) {
    NoWriter writer;
    testing::AssembledDesktop desktop(writer);
    desktop.setFull(state.range(0) != 0);
    PlainLoop loop(desktop.countedTick(false));
    using Clock = std::chrono::steady_clock;
    Clock::duration tick{}, plain{};
    for (auto _ : state) {
        auto start = Clock::now();
        desktop.engine->telemetryTick();
        auto middle = Clock::now();
        loop.run();
        tick += middle - start;
        plain += Clock::now() - middle;
    }
    state.counters["ratio"] =
        std::chrono::duration<double>(tick).count() / std::chrono::duration<double>(plain).count();
}
BENCHMARK(TickOverPlainLoop)->Arg(0)->Arg(1)->ArgNames({"full"})->Unit(benchmark::kMicrosecond);

void EngineTicksDesktopFixture(benchmark::State& state) {
    testing::SysfsFixture desktop;
    testing::nct6775Desktop(desktop);
    Machine m(std::make_unique<HwmonSmcTransport>(desktop.root(),
                                                  FanControlMemory::folderFor(desktop.root())));
    tick(state, m, state.range(0) != 0);
}
BENCHMARK(EngineTicksDesktopFixture)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"full"})
    ->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace ventoral
