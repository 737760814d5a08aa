// The power service's reads over fixture machines.
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/power/SharedPowerBatteryService.h"
#include "platform/power/WatchedLowPowerMode.h"
#include "platform/process/ProcfsProcessTable.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SysfsFixture.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ventoral {
namespace {

namespace fs = std::filesystem;

struct LaptopService {
    testing::SysfsFixture sys;
    testing::TemporaryFolder proc;
    std::unique_ptr<SMCService> smc;
    std::shared_ptr<PowerBatteryService> service;
    LaptopService() {
        testing::usbCChargingLaptop(sys);
        std::ofstream(proc.path() + "/uptime") << "100.00 100.00\n";
        ::setenv("VENTORAL_SYSFS_ROOT", sys.root().c_str(), 1);
        ::setenv("VENTORAL_PROC_ROOT", proc.path().c_str(), 1);
        smc = std::make_unique<SMCService>(std::make_unique<HwmonSmcTransport>(
            sys.root(), FanControlMemory::folderFor(sys.root())));
        auto platform = linuxPowerBatteryPlatform(
            *smc, std::make_shared<WatchedLowPowerMode>(sys.root(), BusOpener{}));
        platform.isLowPowerModeEnabled = [] { return false; };
        service = PowerBatteryService::make(std::move(platform));
        ::unsetenv("VENTORAL_SYSFS_ROOT");
        ::unsetenv("VENTORAL_PROC_ROOT");
    }
};

void PowerReadAllLaptop(benchmark::State& state) {
    LaptopService laptop;
    for (auto _ : state) {
        benchmark::DoNotOptimize(laptop.service->readAll(false, false));
    }
}
BENCHMARK(PowerReadAllLaptop)->Unit(benchmark::kMicrosecond);

void PowerReadLightweight(benchmark::State& state) {
    LaptopService laptop;
    for (auto _ : state) {
        benchmark::DoNotOptimize(laptop.service->readLightweightMenuBarState(true));
    }
}
BENCHMARK(PowerReadLightweight)->Unit(benchmark::kMicrosecond);

struct FixedApps : RunningApplications {
    std::vector<RunningApplication> apps;
    std::vector<RunningApplication> list() override { return apps; }
};

// One energy sample over 500 processes of 20 applications, each process changed since the last.
void PowerEnergySample500Processes(benchmark::State& state) {
    testing::TemporaryFolder proc;
    auto apps = std::make_shared<FixedApps>();
    for (int a = 0; a < 20; ++a) {
        apps->apps.push_back({"/opt/app" + std::to_string(a), "App " + std::to_string(a)});
    }
    auto writeStat = [&](int pid, int ticks) {
        std::ofstream(proc.path() + "/" + std::to_string(pid) + "/stat")
            << pid << " (p) S 1 1 1 0 -1 0 0 0 0 0 " << ticks << " 0 0 0 20 0 1 0 " << pid
            << " 0 0\n";
    };
    for (int pid = 1000; pid < 1500; ++pid) {
        fs::create_directories(proc.path() + "/" + std::to_string(pid));
        writeStat(pid, 1);
        fs::create_symlink("/opt/app" + std::to_string(pid % 20) + "/bin/p",
                           proc.path() + "/" + std::to_string(pid) + "/exe");
    }
    std::atomic<double> uptime{100};
    PowerBatteryPlatform platform;
    platform.processes = std::make_shared<ProcfsProcessTable>(proc.path(), geteuid(), 100);
    platform.applications = apps;
    platform.systemUptime = [&] { return uptime.load(); };
    platform.now = systemWallClock();
    auto service = PowerBatteryService::make(platform);
    int ticks = 1;
    for (auto _ : state) {
        state.PauseTiming();
        ++ticks;
        for (int pid = 1000; pid < 1500; ++pid) {
            writeStat(pid, ticks);
        }
        uptime = uptime + 4;
        state.ResumeTiming();
        service->readAll(false, true);
        service->drainBackgroundWork();
    }
}
BENCHMARK(PowerEnergySample500Processes)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace ventoral
