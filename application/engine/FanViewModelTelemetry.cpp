// The telemetry loop: the timer, the light and full polls, and the power history.
#include "application/engine/FanViewModel.h"
#include "core/common/Numbers.h"

#include <cmath>

namespace ventoral {
namespace {

constexpr double popoverInterval = 2.0;
constexpr double activeInterval = 3.5;
constexpr double idleInterval = 6.0;
constexpr std::size_t historyLength = 60;

} // namespace

void FanViewModel::checkHardware() {
    const int n = collaborators_.smc.readFanCount();
    publish(hardwareFanCount_, n);
    publish(fanLimits_, collaborators_.smc.fanLimits());
    if (n > 0) {
        publish(isSimulatedMode_, false);
        publishPrivilegeStatus();
    } else {
        publish(isSimulatedMode_, true);
        publish(privilegeStatus_, PrivilegedWriteMode::simulationOnly);
        publish(isAuthorized_, true);
    }
}

void FanViewModel::startTelemetry() {
    stopTelemetry();
    isTelemetryActive_ = true;
    lastTickTime_ = now();
    pollTelemetry(isAnyUIVisible());
    if (!isMonitoringPowerSources_) {
        isMonitoringPowerSources_ = true;
        collaborators_.powerService.startPowerSourceMonitoring(onMainThread([](FanViewModel& self) {
            if (self.isTelemetryActive_) {
                self.pollTelemetry(self.isAnyUIVisible());
            }
        }));
    }
    rescheduleTimerIfNeeded();
    evaluatePresetRules(false);
}

void FanViewModel::stopTelemetry() {
    isTelemetryActive_ = false;
    scheduledInterval_ = 0;
    if (timer_) {
        timer_->stop();
        timer_->deleteLater();
        timer_ = nullptr;
    }
}

double FanViewModel::desiredPollInterval() const {
    if (isPopoverVisible_.value || isDashboardVisible_.value) {
        return popoverInterval;
    }
    if (isManualOrCurveOverride()) {
        return activeInterval;
    }
    const auto& m = menuBarSettings_.value;
    if (m.showCPUTemp || m.showGPUTemp || m.showRPM || m.showPowerWatts ||
        (m.iconStyle == MenuBarIconStyle::trioRing &&
         m.trioCenterSlot == TrioCenterSlot::powerWatts)) {
        return activeInterval;
    }
    return isSimulatedMode_.value ? activeInterval : idleInterval;
}

double FanViewModel::timerTolerance() const {
    return std::min(scheduledInterval_ * 0.25, 2.0);
}

void FanViewModel::rescheduleTimerIfNeeded() {
    if (!isTelemetryActive_) {
        return;
    }
    const double interval = desiredPollInterval();
    if (std::fabs(interval - scheduledInterval_) <= 0.05 && timer_) {
        return;
    }
    scheduledInterval_ = interval;
    if (timer_) {
        timer_->stop();
        timer_->deleteLater();
    }
    timer_ = new QTimer(this);
    // Qt has no free tolerance; a coarse timer may fire within 5 % of the period, inside the
    // quarter-period slack the loop allows.
    timer_->setTimerType(Qt::CoarseTimer);
    timer_->setInterval(static_cast<int>(std::lround(interval * 1000)));
    connect(timer_, &QTimer::timeout, this, &FanViewModel::telemetryTick);
    timer_->start();
}

void FanViewModel::telemetryTick() {
    const TimePoint tick = now();
    const double dt = std::chrono::duration<double>(tick - lastTickTime_).count();
    lastTickTime_ = tick;
    if (!isSimulatedMode_.value && !isAuthorized_.value) {
        privilegeRecheck();
    }
    if (isSimulatedMode_.value) {
        collaborators_.sim.updatePhysics(dt);
    }
    pollTelemetry(false);
    evaluatePresetRules(false);
}

void FanViewModel::privilegeRecheck() {
    const PrivilegedWriteMode status = collaborators_.writer.checkPrivilegeStatus();
    if (status == PrivilegedWriteMode::unauthorized) {
        return;
    }
    publish(privilegeStatus_, status);
    publish(isAuthorized_, true);
    sudoFallbackConfirmedUnavailable_ = false;
    publish(lastErrorMessage_, std::nullopt);
}

void FanViewModel::pollTelemetry(bool forceFull) {
    const bool light = isTelemetryActive_ && !isPopoverVisible_.value &&
                       !isDashboardVisible_.value && !forceFull && !isSimulatedMode_.value;
    if (light) {
        lightPoll();
    } else {
        fullPoll();
    }
}

void FanViewModel::lightPoll() {
    const auto& m = menuBarSettings_.value;
    const bool needsTemps = m.showCPUTemp || m.showGPUTemp || isManualOrCurveOverride();
    const bool needsSystemWatts =
        m.showPowerWatts || (m.iconStyle == MenuBarIconStyle::trioRing &&
                             m.trioCenterSlot == TrioCenterSlot::powerWatts);
    TelemetrySnapshot snapshot;
    snapshot.fans = collaborators_.smc.readFans();
    if (needsTemps) {
        snapshot.sensors = collaborators_.smc.readThermalSensors(true);
    }
    snapshot.timestamp = now();
    auto light = collaborators_.powerService.readLightweightMenuBarState(needsSystemWatts);
    latestSnapshot_ = snapshot;
    latestSnapshotIsSimulated_ = false;
    publish(fans_, snapshot.fans);
    if (needsTemps) {
        publish(cpuTemperature_, snapshot.cpuTemperature());
        publish(gpuTemperature_, snapshot.gpuTemperature());
        publish(aneTemperature_, snapshot.aneTemperature());
    }
    publish(batteryState_, light.battery);
    if (needsSystemWatts && !(light.systemWatts == powerTelemetry_.value.systemWatts)) {
        PowerTelemetrySnapshot power = powerTelemetry_.value;
        power.systemWatts = light.systemWatts;
        publish(powerTelemetry_, std::move(power));
    }
    syncManualRPM(snapshot);
    if (needsTemps) {
        checkSafetyWatchdog();
    }
}

void FanViewModel::fullPoll() {
    TelemetrySnapshot snapshot;
    PowerTelemetrySnapshot power;
    BatteryStateSnapshot battery = batteryState_.value;
    BatteryHealthSnapshot health;
    std::vector<AppEnergyEntry> apps;
    if (isSimulatedMode_.value) {
        snapshot = collaborators_.sim.readSnapshot();
        snapshot.timestamp = now();
        auto simulated = collaborators_.sim.readPowerAndBattery();
        battery = simulated.battery;
        power = simulated.power;
        health = simulated.health;
        apps = simulated.topApps;
    } else {
        snapshot.fans = collaborators_.smc.readFans();
        snapshot.sensors = collaborators_.smc.readThermalSensors(!needsAllThermalSensors());
        snapshot.timestamp = now();
        auto reading = collaborators_.powerService.readAll(
            false, needsTopEnergyApps(),
            onMainThread([](FanViewModel& self) { self.refreshAsyncBatteryCache(); }));
        battery = reading.battery;
        power = reading.power;
        health = reading.health;
        apps = reading.topApps;
    }
    latestSnapshot_ = snapshot;
    latestSnapshotIsSimulated_ = isSimulatedMode_.value;
    publish(fans_, snapshot.fans);
    if (needsAllThermalSensors() || sensors_.value.empty() || isSimulatedMode_.value) {
        publish(sensors_, snapshot.sensors);
    }
    publish(cpuTemperature_, snapshot.cpuTemperature());
    publish(gpuTemperature_, snapshot.gpuTemperature());
    publish(aneTemperature_, snapshot.aneTemperature());
    publish(batteryState_, battery);
    publish(powerTelemetry_, power);
    publish(batteryHealth_, health);
    publish(topEnergyApps_, apps);
    appendHistoryPoint(power);
    syncManualRPM(snapshot);
    checkSafetyWatchdog();
}

void FanViewModel::appendHistoryPoint(const PowerTelemetrySnapshot& power) {
    if (!power.systemWatts && !power.adapterInputWatts && !power.signedBatteryWatts()) {
        return;
    }
    const std::optional<double> system =
        power.systemWatts ? power.systemWatts : power.dischargingWatts();
    auto history = powerHistory_.value;
    // The point itself reads missing and negative flows as 0.
    history.emplace_back(Uuid::random(), power.readAt, finiteOrZero(power.adapterInputWatts),
                         finiteOrZero(system), finiteOrZero(power.signedBatteryWatts()),
                         finiteOrZero(power.displayWatts));
    while (history.size() > historyLength) {
        history.erase(history.begin());
    }
    publish(powerHistory_, std::move(history));
}

void FanViewModel::refreshAsyncBatteryCache() {
    if (isSimulatedMode_.value || !isTelemetryActive_ || !isAnyUIVisible()) {
        return;
    }
    auto reading = collaborators_.powerService.readAll(false, false, nullptr);
    publish(batteryState_, reading.battery);
    publish(powerTelemetry_, reading.power);
    publish(batteryHealth_, reading.health);
    publish(topEnergyApps_, reading.topApps);
}

} // namespace ventoral
