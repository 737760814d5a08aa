#include "core/simulation/FanSimulationService.h"

#include "core/common/Format.h"

#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

constexpr double maxWorkload = 75.0;
constexpr float spinUpPerSecond = 650.0f;
constexpr float spinDownPerSecond = 420.0f;
constexpr double inertiaPerSecond = 0.35;

double clampedStep(double deltaTime) {
    if (std::isnan(deltaTime)) {
        return 0.1;
    }
    if (deltaTime > 2.0) {
        return 2.0;
    }
    return std::max(deltaTime, 0.1);
}

} // namespace

FanSimulationService::FanSimulationService(SimulationHost host, SimulationModel initial)
    : host_(std::move(host)), m_(std::move(initial)) {
    m_.thermalWorkload =
        std::isfinite(m_.thermalWorkload) ? std::clamp(m_.thermalWorkload, 0.0, maxWorkload) : 0.0;
}

std::vector<FanInfo> FanSimulationService::readFans() const {
    std::lock_guard guard(lock_);
    return m_.fans;
}

std::vector<ThermalSensor> FanSimulationService::readSensors() const {
    std::lock_guard guard(lock_);
    return buildSensorsUnlocked();
}

TelemetrySnapshot FanSimulationService::readSnapshot() const {
    std::lock_guard guard(lock_);
    return TelemetrySnapshot{m_.fans, buildSensorsUnlocked(), host_.now()};
}

std::vector<ThermalSensor> FanSimulationService::buildSensorsUnlocked() const {
    return {
        {"sim_cpu_p0", "Simulated CPU P-Core 0", m_.cpuTemp + 1.2, SensorCategory::cpu},
        {"sim_cpu_p1", "Simulated CPU P-Core 1", m_.cpuTemp + 0.8, SensorCategory::cpu},
        {"sim_cpu_e0", "Simulated CPU E-Core Cluster", m_.cpuTemp - 2.4, SensorCategory::cpu},
        {"sim_gpu_cluster", "Simulated GPU Core Matrix", m_.gpuTemp, SensorCategory::gpu},
        {"sim_ane", "Simulated Apple Neural Engine", m_.aneTemp, SensorCategory::ane},
        {"sim_batt", "Simulated Battery Gas Gauge", 31.5, SensorCategory::battery},
        {"sim_nand", "Simulated Apple Fabric SSD Controller", 34.2, SensorCategory::storage},
    };
}

FanInfo* FanSimulationService::fanUnlocked(std::int64_t fanIndex) {
    if (fanIndex < 0 || fanIndex >= static_cast<std::int64_t>(m_.fans.size())) {
        return nullptr;
    }
    return &m_.fans[static_cast<std::size_t>(fanIndex)];
}

void FanSimulationService::setTargetRPM(std::int64_t fanIndex, float rpm) {
    std::lock_guard guard(lock_);
    FanInfo* fan = fanUnlocked(fanIndex);
    if (!fan || !std::isfinite(rpm)) {
        return;
    }
    fan->targetRPM = clampSpeed(rpm, fan->minRPM, fan->maxRPM);
    fan->mode = FanMode::manual;
    fan->isForced = true;
}

void FanSimulationService::setFanMode(std::int64_t fanIndex, FanMode mode) {
    std::lock_guard guard(lock_);
    FanInfo* fan = fanUnlocked(fanIndex);
    if (!fan) {
        return;
    }
    fan->mode = mode;
    fan->isForced = mode == FanMode::manual;
}

void FanSimulationService::resetAllToAuto() {
    std::lock_guard guard(lock_);
    for (auto& fan : m_.fans) {
        fan.mode = FanMode::automatic;
        fan.isForced = false;
    }
}

void FanSimulationService::setThermalWorkload(double workload) {
    if (!std::isfinite(workload)) {
        return;
    }
    std::lock_guard guard(lock_);
    m_.thermalWorkload = std::clamp(workload, 0.0, maxWorkload);
}

void FanSimulationService::setLowPowerMode(bool enabled) {
    std::lock_guard guard(lock_);
    m_.lowPowerMode = enabled;
}

void FanSimulationService::updatePhysics(double deltaTime) {
    std::lock_guard guard(lock_);
    const auto dt = static_cast<float>(clampedStep(deltaTime));

    for (auto& fan : m_.fans) {
        float target = fan.targetRPM;
        if (fan.mode == FanMode::automatic) {
            double t = (m_.cpuTemp - 40.0) / 45.0;
            t = std::isnan(t) ? 1.0 : std::clamp(t, 0.0, 1.0);
            target = fan.minRPM + (fan.maxRPM - fan.minRPM) * static_cast<float>(t) * 0.75f;
            fan.targetRPM = target;
        }
        float diff = target - fan.currentRPM;
        float step = diff > 0 ? spinUpPerSecond * dt : spinDownPerSecond * dt;
        if (std::fabs(diff) <= step) {
            fan.currentRPM = target;
        } else {
            fan.currentRPM += diff > 0 ? step : -step;
        }
    }

    if (m_.fans.empty()) {
        return;
    }
    float sum = 0;
    for (const auto& fan : m_.fans) {
        sum += fan.currentRPM;
    }
    float avg = sum / static_cast<float>(m_.fans.size());
    float ratio = avg / std::max(m_.fans.front().maxRPM, 1.0f);
    double eq = m_.thermalWorkload + 36.0 - 28.0 * static_cast<double>(ratio);
    double k = static_cast<double>(dt) * inertiaPerSecond;
    m_.cpuTemp += (eq - m_.cpuTemp) * k;
    m_.gpuTemp += ((eq - 2.5) - m_.gpuTemp) * k;
    m_.aneTemp += ((eq - 5.0) - m_.aneTemp) * k;
}

SimulatedPowerAndBattery FanSimulationService::readPowerAndBattery() const {
    std::lock_guard guard(lock_);
    double avg = 0;
    if (!m_.fans.empty()) {
        for (const auto& fan : m_.fans) {
            avg += static_cast<double>(fan.currentRPM);
        }
        avg /= static_cast<double>(m_.fans.size());
    }
    const double soc = m_.thermalWorkload * 0.48 + 8.5;

    PowerTelemetrySnapshot power;
    power.systemWatts = soc + (avg / 6500.0) * 3.8 + 4.2 + 3.4;
    power.adapterInputWatts = *power.systemWatts + 14.8 + 2.6;
    power.batteryVolts = 12.64;
    power.batteryAmps = 14.8 / 12.64;
    power.displayWatts = 4.2;
    power.socPackageWatts = soc;
    power.usbOutputWatts = 2.6;
    power.usbPorts = {USBPortPower{1, 2.6, "External NVMe SSD"}};
    power.adapterRatedWatts = 96;
    power.chargingPortType = "MagSafe 3";
    power.readAt = host_.now();

    BatteryStateSnapshot battery(true, 84, true, false, true, m_.lowPowerMode, std::nullopt,
                                 BatteryChargeTimeState::estimated(38));

    BatteryHealthSnapshot health;
    health.designCapacityMAh = 6075;
    health.maximumCapacityMAh = 5710;
    health.maximumCapacityPercent = 94.0;
    health.healthPercent = 93.99;
    health.cycleCount = 86;
    health.temperatureCelsius = 32.4;
    health.condition = BatteryCondition::normal;
    health.uptimeSeconds = host_.uptimeSeconds();

    const double workload = std::max(soc * 0.55, 1.2);
    std::vector<AppEnergyEntry> topApps{
        {"/Applications/VentoralController.app", "Ventoral Controller (Sim)", host_.ownBundlePath,
         "0.4 W", 0.4, AppEnergyBasis::cpuEnergy},
        {"/System/Applications/Utilities/Activity Monitor.app", "Thermal Render Workload",
         "/System/Applications/Utilities/Activity Monitor.app", cformat("%.1f W", workload),
         workload, AppEnergyBasis::cpuEnergy},
    };
    std::stable_sort(topApps.begin(), topApps.end(),
                     [](const auto& a, const auto& b) { return a.rawScore > b.rawScore; });

    return {battery, power, health, topApps};
}

SimulationModel FanSimulationService::model() const {
    std::lock_guard guard(lock_);
    return m_;
}

} // namespace ventoral
