#pragma once

#include "core/common/Clock.h"
#include "core/power/AppEnergyEntry.h"
#include "core/power/BatteryStateSnapshot.h"
#include "core/power/PowerTelemetrySnapshot.h"
#include "core/telemetry/TelemetrySnapshot.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ventoral {

// What the simulation needs from the machine it runs on.
struct SimulationHost {
    WallClock now = systemWallClock();
    std::function<double()> uptimeSeconds = [] { return 0.0; };
    // The running application's own path, shown for its entry in the top-apps list.
    std::string ownBundlePath;
};

// The model's state; the defaults are the state a fresh simulation starts in.
struct SimulationModel {
    std::vector<FanInfo> fans{
        {0, "Left Fan (CPU)", 2150, 1250, 6500, 2150, FanMode::automatic, false},
        {1, "Right Fan (GPU)", 2200, 1250, 6500, 2200, FanMode::automatic, false},
    };
    double cpuTemp = 48.5;
    double gpuTemp = 45.2;
    double aneTemp = 41.8;
    double thermalWorkload = 35.0; // within [0, 75]
    bool lowPowerMode = false;

    friend bool operator==(const SimulationModel&, const SimulationModel&) = default;
};

struct SimulatedPowerAndBattery {
    BatteryStateSnapshot battery;
    PowerTelemetrySnapshot power;
    BatteryHealthSnapshot health;
    std::vector<AppEnergyEntry> topApps;
};

// Two virtual fans that ramp towards their targets, temperatures that follow them with
// thermal inertia, and a power picture that moves with the load. Every operation holds the
// one lock for its whole duration.
class FanSimulationService {
public:
    explicit FanSimulationService(SimulationHost host = {}, SimulationModel initial = {});
    FanSimulationService(const FanSimulationService&) = delete;
    FanSimulationService& operator=(const FanSimulationService&) = delete;

    // The process-wide instance, backed by this machine's clock, uptime and executable.
    static FanSimulationService& shared();

    std::vector<FanInfo> readFans() const;
    std::vector<ThermalSensor> readSensors() const;
    TelemetrySnapshot readSnapshot() const;

    void setTargetRPM(std::int64_t fanIndex, float rpm);
    void setFanMode(std::int64_t fanIndex, FanMode mode);
    void resetAllToAuto();
    void setThermalWorkload(double workload);
    void setLowPowerMode(bool enabled);
    void updatePhysics(double deltaTime);

    SimulatedPowerAndBattery readPowerAndBattery() const;

    // The whole model, read under the lock.
    SimulationModel model() const;

private:
    std::vector<ThermalSensor> buildSensorsUnlocked() const;
    FanInfo* fanUnlocked(std::int64_t fanIndex);

    const SimulationHost host_;
    mutable std::mutex lock_;
    SimulationModel m_;
};

} // namespace ventoral
