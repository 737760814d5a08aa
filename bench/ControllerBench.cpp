// Whole-process cost of `VentoralController --verify`: wall time, and the peak resident memory
// of the child as a counter.
#include "tests/support/ChildProcess.h"
#include "tests/support/SysfsFixture.h"

#include <benchmark/benchmark.h>
#include <fstream>
#include <sys/resource.h>

namespace ventoral {
namespace {

using namespace ventoral::testing;

void verify(benchmark::State& state, void (*machine)(SysfsFixture&)) {
    SysfsFixture sys;
    machine(sys);
    TemporaryFolder proc, config;
    std::ofstream(proc.path() + "/uptime") << "100.0 100.0\n";
    const EnvironmentChanges env{{"VENTORAL_SYSFS_ROOT", sys.root()},
                                 {"VENTORAL_PROC_ROOT", proc.path()},
                                 {"XDG_CONFIG_HOME", config.path()},
                                 {"VENTORAL_SMC_PROFILE", ""},
                                 {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent"}};
    for (auto _ : state) {
        auto run = runCommand({VENTORAL_CONTROLLER_PATH, "--verify"}, env);
        if (run.exitStatus != 0) {
            state.SkipWithError("the report failed");
            break;
        }
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    state.counters["peak_rss_kib"] = static_cast<double>(usage.ru_maxrss);
}

void VerifySimulatedMachine(benchmark::State& state) {
    verify(state, fanlessMachine);
}
BENCHMARK(VerifySimulatedMachine)->Unit(benchmark::kMillisecond)->UseRealTime();

void VerifyDesktopFixture(benchmark::State& state) {
    verify(state, nct6775Desktop);
}
BENCHMARK(VerifyDesktopFixture)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace ventoral
