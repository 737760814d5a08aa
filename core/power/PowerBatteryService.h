#pragma once

#include "core/common/Clock.h"
#include "core/common/SerialQueue.h"
#include "core/power/AppEnergyEntry.h"
#include "core/power/BatteryStateSnapshot.h"
#include "core/power/BatteryTelemetryParser.h"
#include "core/power/PowerPlatform.h"
#include "core/power/PowerTelemetrySnapshot.h"
#include "core/smc/SMCService.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ventoral {

// Everything the power service reads from, injected so tests drive it over fixtures.
struct PowerBatteryPlatform {
    std::function<SMCPowerReadings()> readPowerSensors;
    // "PSTR" as a power scalar, read under the controller service's own lock.
    std::function<std::optional<double>()> readSystemPowerScalar;
    std::shared_ptr<PowerSourceProvider> powerSources;
    std::shared_ptr<USBTopologyReader> usbTopology;
    std::shared_ptr<PowerSourceMonitor> monitor;
    std::shared_ptr<ProcessTable> processes;
    std::shared_ptr<RunningApplications> applications;
    std::function<bool()> isLowPowerModeEnabled;
    std::function<double()> systemUptime;
    WallClock now;
    MainThreadExecutor postToMain;
    // The power report program; none where the machine has none.
    BoundedProgramRunner runProfiler;
};

struct PowerBatteryReading {
    BatteryStateSnapshot battery;
    PowerTelemetrySnapshot power;
    BatteryHealthSnapshot health;
    std::vector<AppEnergyEntry> topApps;
};

struct LightweightBatteryReading {
    BatteryStateSnapshot battery;
    std::optional<double> systemWatts;
};

// Gathers the power and battery readings. One lock guards the mutable state and is never held
// across a platform call, a child process or a controller read.
class PowerBatteryService : public std::enable_shared_from_this<PowerBatteryService> {
public:
    static std::shared_ptr<PowerBatteryService> make(PowerBatteryPlatform platform);
    static PowerBatteryService& shared();

    PowerBatteryReading readAll(bool includeSystemProfilerSync, bool includeTopApps,
                                std::function<void()> onAsyncUpdate = nullptr);
    LightweightBatteryReading readLightweightMenuBarState(bool needsSystemWatts);
    void startPowerSourceMonitoring(std::function<void()> onChange);

    // Waits for the background work queued so far (tests and the verify report).
    void drainBackgroundWork() { backgroundQueue_.drain(); }

    struct ProfilerCacheEntry {
        std::optional<BatteryCondition> condition;
        std::optional<double> maximumCapacityPercent;
        std::optional<std::int64_t> cycleCount;
        TimePoint expiresAt{};
        friend bool operator==(const ProfilerCacheEntry&, const ProfilerCacheEntry&) = default;
    };
    static ProfilerCacheEntry runSystemProfilerBounded(const BoundedProgramRunner& runner,
                                                       const WallClock& now, double timeout);

    static inline const char* const profilerProgram = "/usr/sbin/system_profiler";
    static inline const char* const queueLabel = "com.tesvane.powerbattery.bg";

private:
    explicit PowerBatteryService(PowerBatteryPlatform platform);

    struct ProcessSampleKey {
        std::int32_t pid = 0;
        std::uint64_t startAbstime = 0;
        auto operator<=>(const ProcessSampleKey&) const = default;
    };
    struct ProcessCounterSample {
        std::string appId;
        std::string appName;
        std::uint64_t cpuNanoseconds = 0;
        std::optional<std::uint64_t> energyNanojoules;
    };
    using Owner = std::optional<RunningApplication>;

    LooseDictionary readSmartBatteryRegistry();
    std::optional<LooseDictionary> readIOPowerSourceDescription();
    std::optional<std::int64_t> readExternalAdapterRatedWatts();
    void refreshSystemProfilerSynchronously();
    void triggerSystemProfilerRefreshIfNeeded(std::function<void()> onComplete);
    USBPortTopologySnapshot resolveTopology(bool isConnectedToPower);
    void triggerAppEnergySampleIfNeeded(std::function<void()> onComplete);
    bool sampleProcessEnergy(const std::vector<RunningApplication>& runningApps);
    bool lowPowerMode();

    PowerBatteryPlatform platform_;
    std::mutex lock_;
    std::optional<ProfilerCacheEntry> profilerCache_;
    bool isProfilerRefreshing_ = false;
    USBPortTopologySnapshot cachedTopology_;
    TimePoint topologyExpiresAt_ = TimePoint::min();
    std::optional<bool> lastExternalConnected_;
    double lastEnergySampleTime_ = 0;
    std::map<ProcessSampleKey, ProcessCounterSample> lastProcessSamples_;
    std::map<ProcessSampleKey, Owner> pidOwnerCache_;
    std::vector<AppEnergyEntry> cachedTopApps_;
    bool isSamplingApps_ = false;
    bool monitoring_ = false;
    std::shared_ptr<std::function<void()>> powerSourceChangeHandler_;
    // Last, so that it is torn down first and no job outlives the fields it uses.
    SerialQueue backgroundQueue_{queueLabel};
};

} // namespace ventoral
