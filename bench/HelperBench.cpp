// What one fan write costs through the helper: a whole "set-rpm" run, and one call to the
// running daemon.
#include "core/helper/HelperProtocol.h"
#include "helper/dbus/SMCHelperClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/SysfsFixture.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <functional>
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

// The floor for any process: what starting a program that does nothing costs.
void ProcessTrue(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(runCommand({"/bin/true"}).exitStatus);
    }
}
BENCHMARK(ProcessTrue)->Unit(benchmark::kMillisecond)->UseRealTime();

// The daemon on a private bus, with a logind (python3-dbusmock) when `withLogind`; `call` is
// timed once per iteration: a fan write, or the bus's own Peer.Ping to the same daemon as the
// floor.
void daemonCalls(benchmark::State& state, bool withLogind,
                 const std::function<bool(sdbus::IProxy&, SMCHelperClient&)>& call) {
    PrivateBus bus;
    SysfsFixture machine;
    nct6775Desktop(machine);
    std::unique_ptr<BackgroundProcess> logind;
    if (withLogind) {
        logind = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--system", "--template",
                                     "logind"},
            EnvironmentChanges{{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}});
    }
    BackgroundProcess daemon({VENTORAL_HELPER_PATH}, {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()},
                                                      {"VENTORAL_SYSFS_ROOT", machine.root()},
                                                      {"VENTORAL_SMC_PROFILE", ""}});
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
    auto connection = sdbus::createSystemBusConnection();
    SMCHelperClient client(*connection);
    auto peer =
        sdbus::createProxy(*connection, HelperProtocol::busName, HelperProtocol::objectPath);
    auto answers = [&] {
        try {
            return std::get<0>(client.Ping());
        } catch (const sdbus::Error&) {
            return false;
        }
    };
    bool up = waitUntil(answers, 10);
    if (withLogind) {
        up = up && waitUntil(
                       [&] {
                           return runCommand({"/usr/bin/busctl", "--address=" + bus.address(),
                                              "status", "org.freedesktop.login1"})
                                      .exitStatus == 0;
                       },
                       15);
    }
    if (!up) {
        state.SkipWithError("the daemon or logind did not come up");
    }
    for (auto _ : state) {
        if (!up || !call(*peer, client)) {
            state.SkipWithError("the call failed");
            break;
        }
    }
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

void HelperDaemonSetFanRPM(benchmark::State& state) {
    daemonCalls(state, state.range(0) != 0, [](sdbus::IProxy&, SMCHelperClient& client) {
        return std::get<0>(client.SetFanRPM(1, 1500));
    });
}
BENCHMARK(HelperDaemonSetFanRPM)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"logind"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void HelperDaemonPeerPing(benchmark::State& state) {
    daemonCalls(state, false, [](sdbus::IProxy& peer, SMCHelperClient&) {
        peer.callMethod("Ping").onInterface("org.freedesktop.DBus.Peer");
        return true;
    });
}
BENCHMARK(HelperDaemonPeerPing)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
} // namespace ventoral
