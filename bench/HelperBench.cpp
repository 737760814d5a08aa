// What one fan write costs through the helper: a whole "set-rpm" run, and one call to the
// running daemon.
#include "core/helper/HelperProtocol.h"
#include "helper/dbus/SMCHelperClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/SysfsFixture.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {
namespace {

using namespace ventoral::testing;

void HelperCommandSetRPM(benchmark::State& state) {
    SysfsFixture machine;
    nct6775Desktop(machine);
    const EnvironmentChanges env{{"VENTORAL_SYSFS_ROOT", machine.root()},
                                 {"VENTORAL_SMC_PROFILE", ""}};
    for (auto _ : state) {
        auto run = runCommand({VENTORAL_HELPER_PATH, "set-rpm", "1", "1500"}, env);
        if (run.exitStatus != 0) {
            state.SkipWithError(run.err.c_str());
            break;
        }
    }
}
BENCHMARK(HelperCommandSetRPM)->Unit(benchmark::kMillisecond)->UseRealTime();

void HelperDaemonSetFanRPM(benchmark::State& state) {
    PrivateBus bus;
    SysfsFixture machine;
    nct6775Desktop(machine);
    BackgroundProcess daemon({VENTORAL_HELPER_PATH}, {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()},
                                                      {"VENTORAL_SYSFS_ROOT", machine.root()},
                                                      {"VENTORAL_SMC_PROFILE", ""}});
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
    auto connection = sdbus::createSystemBusConnection();
    SMCHelperClient client(*connection);
    bool up = waitUntil(
        [&] {
            try {
                return std::get<0>(client.Ping());
            } catch (const sdbus::Error&) {
                return false;
            }
        },
        10);
    if (!up) {
        state.SkipWithError("the daemon did not come up");
    }
    for (auto _ : state) {
        if (!up || !std::get<0>(client.SetFanRPM(1, 1500))) {
            state.SkipWithError("the write failed");
            break;
        }
    }
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}
BENCHMARK(HelperDaemonSetFanRPM)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
} // namespace ventoral
