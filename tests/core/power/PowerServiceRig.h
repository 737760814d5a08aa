#pragma once

#include "core/power/PowerBatteryService.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>

namespace ventoral::testing {

using D = LooseDictionary;
using namespace std::chrono_literals;

struct FakeSources : PowerSourceProvider {
    std::optional<std::vector<D>> descriptions;
    std::optional<D> adapter;
    D registry;
    std::optional<std::vector<D>> powerSourceDescriptions() override { return descriptions; }
    std::optional<D> externalAdapterDetails() override { return adapter; }
    D batteryRegistry() override { return registry; }
};

struct FakeTopology : USBTopologyReader {
    USBPortTopologySnapshot topology;
    int reads = 0;
    USBPortTopologySnapshot readTopology() override {
        ++reads;
        return topology;
    }
};

struct FakeMonitor : PowerSourceMonitor {
    std::function<void()> callback;
    int starts = 0;
    bool start(std::function<void()> onChange) override {
        ++starts;
        callback = std::move(onChange);
        return true;
    }
};

struct FakeProcesses : ProcessTable {
    struct Process {
        ProcessUsage usage;
        std::optional<std::string> path;
    };
    std::map<std::int32_t, Process> table;
    int pathLookups = 0;
    std::int64_t processListBytes() override { return static_cast<std::int64_t>(table.size()) * 4; }
    std::vector<std::int32_t> listProcessIds(std::size_t room) override {
        std::vector<std::int32_t> ids;
        for (const auto& [pid, p] : table) {
            if (ids.size() < room) {
                ids.push_back(pid);
            }
        }
        return ids;
    }
    std::optional<ProcessUsage> usage(std::int32_t pid) override {
        auto found = table.find(pid);
        return found == table.end() ? std::nullopt : std::optional(found->second.usage);
    }
    std::optional<std::string> executablePath(std::int32_t pid) override {
        ++pathLookups;
        auto found = table.find(pid);
        return found == table.end() ? std::nullopt : found->second.path;
    }
};

struct FakeApps : RunningApplications {
    std::vector<RunningApplication> apps;
    std::vector<RunningApplication> list() override { return apps; }
};

// A service over fakes, with a hand-driven clock and a main thread that runs when told.
struct Rig {
    std::shared_ptr<FakeSources> sources = std::make_shared<FakeSources>();
    std::shared_ptr<FakeTopology> topology = std::make_shared<FakeTopology>();
    std::shared_ptr<FakeMonitor> monitor = std::make_shared<FakeMonitor>();
    std::shared_ptr<FakeProcesses> processes = std::make_shared<FakeProcesses>();
    std::shared_ptr<FakeApps> apps = std::make_shared<FakeApps>();
    SMCPowerReadings smc;
    std::optional<double> pstr;
    std::atomic<TimePoint::rep> nowTicks{TimePoint(1'800'000'000s).time_since_epoch().count()};
    std::atomic<double> uptime{1000};
    std::mutex mainLock;
    std::vector<std::function<void()>> mainQueue;
    std::atomic<int> profilerRuns{0};
    BoundedRunResult profilerResult{true, false, 0,
                                    R"({"SPPowerDataType":[{"sppower_battery_health_info":{
                                        "sppower_battery_health":"Good",
                                        "sppower_battery_health_maximum_capacity":"91%",
                                        "sppower_battery_cycle_count":312}}]})"};
    bool hasProfiler = true;
    std::shared_ptr<PowerBatteryService> service;

    Rig() {
        PowerBatteryPlatform p;
        p.readPowerSensors = [this] { return smc; };
        p.readSystemPowerScalar = [this] { return pstr; };
        p.powerSources = sources;
        p.usbTopology = topology;
        p.monitor = monitor;
        p.processes = processes;
        p.applications = apps;
        p.isLowPowerModeEnabled = [] { return true; };
        p.systemUptime = [this] { return uptime.load(); };
        p.now = [this] { return TimePoint(TimePoint::duration(nowTicks.load())); };
        p.postToMain = [this](std::function<void()> job) {
            std::lock_guard guard(mainLock);
            mainQueue.push_back(std::move(job));
        };
        p.runProfiler = [this](const std::vector<std::string>& args, double) {
            EXPECT_EQ(args, (std::vector<std::string>{"SPPowerDataType", "-json", "-detailLevel",
                                                      "mini"}));
            ++profilerRuns;
            return hasProfiler ? profilerResult : BoundedRunResult{};
        };
        service = PowerBatteryService::make(std::move(p));
    }
    void advance(std::chrono::duration<double> d) {
        nowTicks += std::chrono::duration_cast<TimePoint::duration>(d).count();
        uptime = uptime + d.count();
    }
    int runMainQueue() {
        std::vector<std::function<void()>> jobs;
        {
            std::lock_guard guard(mainLock);
            jobs.swap(mainQueue);
        }
        for (auto& job : jobs) {
            job();
        }
        return static_cast<int>(jobs.size());
    }
    PowerBatteryReading read(bool sync = false, bool withApps = false,
                             std::function<void()> update = nullptr) {
        auto reading = service->readAll(sync, withApps, std::move(update));
        service->drainBackgroundWork();
        return reading;
    }
};

inline D discharging() {
    return {{"Type", "InternalBattery"},
            {"Is Present", true},
            {"Power Source State", "Battery Power"},
            {"Is Charging", false},
            {"Is Charged", false},
            {"Current Capacity", 81},
            {"Max Capacity", 100},
            {"Time to Empty", 133},
            {"Time to Full Charge", -1}};
}

struct EnergyRig : Rig {
    EnergyRig() {
        apps->apps = {{"/opt/editor", "Editor"},
                      {"/opt/editor/helpers/render", "Render"},
                      {"/usr/bin/player", "Player"}};
    }
    void process(std::int32_t pid, std::uint64_t start, double cpuSeconds, const char* path,
                 double joules = 0) {
        processes->table[pid] = {{static_cast<std::uint64_t>(cpuSeconds * 1e9), start,
                                  static_cast<std::uint64_t>(joules * 1e9)},
                                 path ? std::optional<std::string>(path) : std::nullopt};
    }
    std::vector<AppEnergyEntry> sample(std::function<void()> update = nullptr) {
        read(false, true, std::move(update));
        return read().topApps; // the list a read returns lags one sample behind
    }
};

} // namespace ventoral::testing
