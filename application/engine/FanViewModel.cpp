#include "application/engine/FanViewModel.h"

#include "application/menubar/TrioMenuBarIconRenderer.h"
#include "core/common/Format.h"
#include "core/common/MainThread.h"
#include "core/common/Numbers.h"
#include "core/power/PowerFormatters.h"

#include <QCoreApplication>
#include <QLocale>
#include <QMetaObject>
#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

constexpr double popoverInterval = 2.0;
constexpr double activeInterval = 3.5;
constexpr double idleInterval = 6.0;
constexpr std::size_t historyLength = 60;
constexpr double tripCelsius = 95.0;
constexpr double rearmCelsius = 88.0;
constexpr double fansHighFraction = 0.85;
constexpr float dedupeTolerance = 15;
constexpr double reassertAge = 3.0;
constexpr float driftTolerance = 50;
constexpr float pendingTolerance = 5;
constexpr double terminationRestoreSeconds = 1.5;

bool isAuto(const ActivePresetSelection& selection) {
    return selection == ActivePresetSelection::builtin(BuiltinPresetType::automatic);
}

float clampToFan(float value, const FanInfo& fan) {
    return std::max(std::min(value, fan.maxRPM), fan.minRPM);
}

long long roundedInteger(double value) {
    return std::isfinite(value) ? static_cast<long long>(roundHalfAway(value)) : 0;
}

} // namespace

FanViewModel::FanViewModel(FanViewModelCollaborators collaborators, bool autoStartTelemetry,
                           QObject* parent)
    : QObject(parent), collaborators_(std::move(collaborators)), lastTickTime_(now()) {
    batteryHealth_.uptimeSeconds =
        collaborators_.systemUptime ? collaborators_.systemUptime() : 0.0;
    powerTelemetry_.readAt = now();
    MenuBarDisplaySettings initial;
    initial.showIcon = true;
    initial.showPercentage = true;
    initial.showCPUTemp = true;
    menuBarSettings_ = initial;
    checkHardware();
    loadPresets();
    setupTerminationObserver();
    if (autoStartTelemetry) {
        startTelemetry();
    } else {
        pollTelemetry(false);
    }
}

FanViewModel::~FanViewModel() {
    *alive_ = false;
    stopTelemetry();
    QObject::disconnect(terminationObserver_);
}

BatteryStateSnapshot FanViewModel::initialBatteryState() {
    return {true, 100, false, true, true, false, std::nullopt, BatteryChargeTimeState::charged()};
}

// The loop.

void FanViewModel::checkHardware() {
    const int n = collaborators_.smc.readFanCount();
    publish_hardwareFanCount(n);
    if (n > 0) {
        publish_isSimulatedMode(false);
        publish_privilegeStatus(collaborators_.writer.checkPrivilegeStatus());
        publish_isAuthorized(collaborators_.writer.checkPrivilegeStatus() !=
                             PrivilegedWriteMode::unauthorized);
    } else {
        publish_isSimulatedMode(true);
        publish_privilegeStatus(PrivilegedWriteMode::simulationOnly);
        publish_isAuthorized(true);
    }
}

void FanViewModel::startTelemetry() {
    stopTelemetry();
    isTelemetryActive_ = true;
    lastTickTime_ = now();
    pollTelemetry(isAnyUIVisible());
    if (!isMonitoringPowerSources_) {
        isMonitoringPowerSources_ = true;
        QPointer<FanViewModel> self(this);
        std::weak_ptr<bool> alive = alive_;
        collaborators_.powerService.startPowerSourceMonitoring([self, alive] {
            // The change may arrive on any thread; the engine reacts on its own.
            postToMainThread([self, alive] {
                if (!alive.expired() && self && self->isTelemetryActive_) {
                    self->pollTelemetry(self->isAnyUIVisible());
                }
            });
        });
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
    if (isPopoverVisible_ || isDashboardVisible_) {
        return popoverInterval;
    }
    if (!isAuto(activeSelection_)) {
        return activeInterval;
    }
    const auto& m = menuBarSettings_;
    if (m.showCPUTemp || m.showGPUTemp || m.showRPM || m.showPowerWatts ||
        (m.iconStyle == MenuBarIconStyle::trioRing &&
         m.trioCenterSlot == TrioCenterSlot::powerWatts)) {
        return activeInterval;
    }
    return isSimulatedMode_ ? activeInterval : idleInterval;
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
    if (!isSimulatedMode_ && !isAuthorized_) {
        privilegeRecheck();
    }
    if (isSimulatedMode_) {
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
    publish_privilegeStatus(status);
    publish_isAuthorized(true);
    sudoFallbackConfirmedUnavailable_ = false;
    publish_lastErrorMessage(std::nullopt);
}

void FanViewModel::pollTelemetry(bool forceFull) {
    const bool light = isTelemetryActive_ && !isPopoverVisible_ && !isDashboardVisible_ &&
                       !forceFull && !isSimulatedMode_;
    if (light) {
        lightPoll();
    } else {
        fullPoll();
    }
}

void FanViewModel::lightPoll() {
    const auto& m = menuBarSettings_;
    const bool needsTemps = m.showCPUTemp || m.showGPUTemp || !isAuto(activeSelection_);
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
    publish_fans(snapshot.fans);
    if (needsTemps) {
        publish_cpuTemperature(snapshot.cpuTemperature());
        publish_gpuTemperature(snapshot.gpuTemperature());
        publish_aneTemperature(snapshot.aneTemperature());
    }
    publish_batteryState(light.battery);
    if (needsSystemWatts && !(light.systemWatts == powerTelemetry_.systemWatts)) {
        PowerTelemetrySnapshot power = powerTelemetry_;
        power.systemWatts = light.systemWatts;
        publish_powerTelemetry(std::move(power));
    }
    syncManualRPM(snapshot);
    if (needsTemps) {
        checkSafetyWatchdog();
    }
}

void FanViewModel::fullPoll() {
    TelemetrySnapshot snapshot;
    PowerTelemetrySnapshot power;
    BatteryStateSnapshot battery = batteryState_;
    BatteryHealthSnapshot health;
    std::vector<AppEnergyEntry> apps;
    if (isSimulatedMode_) {
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
        QPointer<FanViewModel> self(this);
        std::weak_ptr<bool> alive = alive_;
        auto reading =
            collaborators_.powerService.readAll(false, needsTopEnergyApps(), [self, alive] {
                postToMainThread([self, alive] {
                    if (!alive.expired() && self) {
                        self->refreshAsyncBatteryCache();
                    }
                });
            });
        battery = reading.battery;
        power = reading.power;
        health = reading.health;
        apps = reading.topApps;
    }
    latestSnapshot_ = snapshot;
    latestSnapshotIsSimulated_ = isSimulatedMode_;
    publish_fans(snapshot.fans);
    if (needsAllThermalSensors() || sensors_.empty() || isSimulatedMode_) {
        publish_sensors(snapshot.sensors);
    }
    publish_cpuTemperature(snapshot.cpuTemperature());
    publish_gpuTemperature(snapshot.gpuTemperature());
    publish_aneTemperature(snapshot.aneTemperature());
    publish_batteryState(battery);
    publish_powerTelemetry(power);
    publish_batteryHealth(health);
    publish_topEnergyApps(apps);
    appendHistoryPoint(power);
    syncManualRPM(snapshot);
    checkSafetyWatchdog();
}

void FanViewModel::appendHistoryPoint(const PowerTelemetrySnapshot& power) {
    if (!power.systemWatts && !power.adapterInputWatts && !power.signedBatteryWatts()) {
        return;
    }
    const double input = std::max(finiteOrZero(power.adapterInputWatts), 0.0);
    std::optional<double> system = power.systemWatts ? power.systemWatts : power.dischargingWatts();
    const double systemWatts = std::max(finiteOrZero(system), 0.0);
    const double battery = finiteOrZero(power.signedBatteryWatts());
    const double display = std::max(finiteOrZero(power.displayWatts), 0.0);
    auto history = powerHistory_;
    history.emplace_back(Uuid::random(), power.readAt, input, systemWatts, battery, display);
    while (history.size() > historyLength) {
        history.erase(history.begin());
    }
    publish_powerHistory(std::move(history));
}

void FanViewModel::refreshAsyncBatteryCache() {
    if (isSimulatedMode_ || !isTelemetryActive_ || !isAnyUIVisible()) {
        return;
    }
    auto reading = collaborators_.powerService.readAll(false, false, nullptr);
    publish_batteryState(reading.battery);
    publish_powerTelemetry(reading.power);
    publish_batteryHealth(reading.health);
    publish_topEnergyApps(reading.topApps);
}

// Visibility.

void FanViewModel::setSelectedDashboardSection(DashboardSection section) {
    if (section == selectedDashboardSection_) {
        return;
    }
    publish_selectedDashboardSection(section);
    if (isDashboardVisible_) {
        pollTelemetry(true);
        rescheduleTimerIfNeeded();
    }
}

void FanViewModel::setPopoverVisible(bool visible) {
    if (visible == isPopoverVisible_) {
        return;
    }
    publish_isPopoverVisible(visible);
    if (!visible) {
        publish_isPopoverShowingBatteryDetails(false);
    }
    if (visible && isTelemetryActive_) {
        pollTelemetry(true);
    }
    rescheduleTimerIfNeeded();
}

void FanViewModel::setPopoverBatteryDetailsVisible(bool visible) {
    if (visible == isPopoverShowingBatteryDetails_) {
        return;
    }
    publish_isPopoverShowingBatteryDetails(visible);
    if (visible && isTelemetryActive_) {
        pollTelemetry(true);
    }
}

void FanViewModel::setDashboardVisible(bool visible) {
    if (visible == isDashboardVisible_) {
        return;
    }
    publish_isDashboardVisible(visible);
    if (visible && isTelemetryActive_) {
        pollTelemetry(true);
    }
    rescheduleTimerIfNeeded();
}

bool FanViewModel::needsTopEnergyApps() const {
    return (isPopoverVisible_ && isPopoverShowingBatteryDetails_) ||
           (isDashboardVisible_ && selectedDashboardSection_ == DashboardSection::batteryPower);
}

bool FanViewModel::needsAllThermalSensors() const {
    return (isDashboardVisible_ && selectedDashboardSection_ == DashboardSection::sensors) ||
           !isTelemetryActive_;
}

// Preset rules and the watchdog.

void FanViewModel::evaluatePresetRules(bool userInitiated) {
    if (!latestSnapshot_ || latestSnapshotIsSimulated_ != isSimulatedMode_) {
        TelemetrySnapshot fresh;
        if (isSimulatedMode_) {
            fresh = collaborators_.sim.readSnapshot();
        } else {
            fresh.fans = collaborators_.smc.readFans();
            fresh.sensors = collaborators_.smc.readThermalSensors(false);
        }
        fresh.timestamp = now();
        latestSnapshot_ = fresh;
        latestSnapshotIsSimulated_ = isSimulatedMode_;
    }
    const TelemetrySnapshot snapshot = *latestSnapshot_;
    ManualRPMMap manual = manualRPM_;
    for (const FanInfo& f : fans_) {
        std::optional<float> fixed;
        if (auto found = manual.find(f.id); found != manual.end()) {
            fixed = found->second;
        }
        const TargetEvaluation target =
            collaborators_.presetManager.evaluateTargetRPM(f, snapshot, fixed);
        const float desired = clampToFan(target.targetRPM, f);
        if (activeSelection_.kind() != ActivePresetSelection::Kind::manualFixed) {
            manual[f.id] =
                clampToFan(target.mode == FanMode::automatic ? f.currentRPM : desired, f);
        }
        if (isSimulatedMode_) {
            collaborators_.sim.setFanMode(f.id, target.mode);
            if (target.mode == FanMode::manual) {
                collaborators_.sim.setTargetRPM(f.id, desired);
            }
            continue;
        }
        writeFan(f, desired, target.mode, userInitiated);
    }
    publish_manualRPM(std::move(manual));
}

// The write pipeline.

void FanViewModel::writeFan(const FanInfo& f, float desired, FanMode mode, bool userInitiated) {
    if (!isAuthorized_ && sudoFallbackConfirmedUnavailable_) {
        if (userInitiated && mode == FanMode::manual) {
            publish_lastErrorMessage(std::string(EngineText::authorizationRequired));
        }
        return;
    }
    if (inFlightFanWrites_.count(f.id)) {
        pendingFanWrites_[f.id] = {desired, mode, f.minRPM};
        return;
    }
    if (auto last = lastWrittenState_.find(f.id);
        last != lastWrittenState_.end() && last->second.mode == mode) {
        const double age = std::chrono::duration<double>(now() - last->second.writtenAt).count();
        bool write = false;
        if (mode == FanMode::automatic) {
            write = age > reassertAge && f.mode != FanMode::automatic;
        } else {
            const float change = std::fabs(last->second.rpm - desired);
            write = (age > reassertAge && f.mode != FanMode::manual) ||
                    (age > reassertAge && std::fabs(f.targetRPM - desired) >= driftTolerance) ||
                    !(change < dedupeTolerance);
        }
        if (!write) {
            pendingFanWrites_.erase(f.id);
            return;
        }
    }
    inFlightFanWrites_.insert(f.id);
    dispatchHardwareWrite(f.id, desired, mode, f.minRPM);
}

void FanViewModel::dispatchHardwareWrite(std::int64_t fanId, float rpm, FanMode mode,
                                         float minRPM) {
    QPointer<FanViewModel> self(this);
    std::weak_ptr<bool> alive = alive_;
    auto done = [self, alive, fanId, rpm, mode, minRPM](WriteResult result) {
        // The writer may finish on any thread; the engine takes it up on its own.
        postToMainThread([self, alive, fanId, rpm, mode, minRPM, result] {
            if (!alive.expired() && self) {
                self->completeWrite(fanId, rpm, mode, minRPM, result);
            }
        });
    };
    if (mode == FanMode::manual) {
        collaborators_.writer.setFanRPM(fanId, rpm, done);
    } else {
        collaborators_.writer.setFanMode(fanId, FanMode::automatic, done);
    }
}

void FanViewModel::completeWrite(std::int64_t id, float rpm, FanMode mode, float minRPM,
                                 const WriteResult& result) {
    inFlightFanWrites_.erase(id);
    if (result) {
        pendingFanWrites_.erase(id);
        handleWriteError(*result);
        return;
    }
    sudoFallbackConfirmedUnavailable_ = false;
    if (!isAuthorized_) {
        publish_privilegeStatus(collaborators_.writer.checkPrivilegeStatus());
        publish_isAuthorized(true);
    }
    const WrittenFanState stored{mode == FanMode::manual ? rpm : minRPM, mode, now()};
    lastWrittenState_[id] = stored;
    publish_lastErrorMessage(std::nullopt);
    if (isSimulatedMode_) {
        return;
    }
    auto pending = pendingFanWrites_.find(id);
    if (pending == pendingFanWrites_.end()) {
        return;
    }
    const PendingFanWrite wish = pending->second;
    pendingFanWrites_.erase(pending);
    if (wish.mode == stored.mode &&
        (wish.mode == FanMode::automatic || std::fabs(stored.rpm - wish.rpm) < pendingTolerance)) {
        return;
    }
    inFlightFanWrites_.insert(id);
    dispatchHardwareWrite(id, wish.rpm, wish.mode, wish.minRPM);
}

void FanViewModel::handleWriteError(const SMCError& error) {
    const std::string description = error.what();
    const bool authorization = error.kind() == SMCError::Kind::privilegedRequired ||
                               (error.kind() == SMCError::Kind::platform &&
                                (description.find("password") != std::string::npos ||
                                 description.find("privilege") != std::string::npos));
    if (authorization) {
        publish_isAuthorized(false);
        publish_privilegeStatus(PrivilegedWriteMode::unauthorized);
        sudoFallbackConfirmedUnavailable_ = true;
        publish_lastErrorMessage(std::string(EngineText::authorizationRequired));
        return;
    }
    publish_lastErrorMessage(description);
}

void FanViewModel::checkSafetyWatchdog() {
    if (cpuTemperature_ >= tripCelsius) {
        const bool automatic = isAuto(activeSelection_);
        const bool maxHolds =
            activeSelection_ == ActivePresetSelection::builtin(BuiltinPresetType::max) &&
            isAuthorized_;
        bool allHigh = !fans_.empty();
        for (const FanInfo& f : fans_) {
            if (!std::isfinite(f.minRPM) || !std::isfinite(f.maxRPM) ||
                !std::isfinite(f.currentRPM) || !(f.maxRPM > f.minRPM)) {
                allHigh = false;
                break;
            }
            const float fraction =
                (std::max(std::min(f.currentRPM, f.maxRPM), f.minRPM) - f.minRPM) /
                (f.maxRPM - f.minRPM);
            if (static_cast<double>(fraction) < fansHighFraction) {
                allHigh = false;
                break;
            }
        }
        if (allHigh || automatic || maxHolds) {
            return;
        }
        publish_isSafetyTripped(true);
        publish_safetyMessage(EngineText::safetyPrefix + cformat("%.1f", cpuTemperature_) +
                              EngineText::safetySuffix);
        selectPreset(ActivePresetSelection::builtin(BuiltinPresetType::automatic));
    } else if (cpuTemperature_ < rearmCelsius && isSafetyTripped_) {
        publish_isSafetyTripped(false);
        publish_safetyMessage(std::nullopt);
    }
}

// Manual control and presets.

void FanViewModel::selectPreset(const ActivePresetSelection& selection) {
    publish_activeSelection(selection);
    collaborators_.presetManager.setActiveSelection(selection);
    if (!isAuto(selection) && !isSimulatedMode_ && latestSnapshot_ &&
        latestSnapshot_->sensors.empty()) {
        TelemetrySnapshot fresh;
        fresh.fans = collaborators_.smc.readFans();
        fresh.sensors = collaborators_.smc.readThermalSensors(true);
        fresh.timestamp = now();
        latestSnapshot_ = fresh;
        publish_cpuTemperature(fresh.cpuTemperature());
        publish_gpuTemperature(fresh.gpuTemperature());
        publish_aneTemperature(fresh.aneTemperature());
    }
    evaluatePresetRules(true);
    rescheduleTimerIfNeeded();
}

void FanViewModel::alignLinkedFans(const FanInfo& leader, float value) {
    const float range = leader.maxRPM - leader.minRPM;
    const float fraction = range > 0 ? (value - leader.minRPM) / range : 0;
    ManualRPMMap manual = manualRPM_;
    for (const FanInfo& g : fans_) {
        if (g.id == leader.id) {
            continue;
        }
        manual[g.id] = clampToFan(g.minRPM + fraction * std::max(g.maxRPM - g.minRPM, 0.0f), g);
    }
    publish_manualRPM(std::move(manual));
}

void FanViewModel::setManualRPM(std::int64_t fanIndex, float rpm) {
    if (!std::isfinite(rpm)) {
        return;
    }
    auto fan = std::find_if(fans_.begin(), fans_.end(),
                            [&](const FanInfo& f) { return f.id == fanIndex; });
    if (fan != fans_.end()) {
        const float value = clampToFan(rpm, *fan);
        ManualRPMMap manual = manualRPM_;
        manual[fanIndex] = value;
        publish_manualRPM(std::move(manual));
        if (isLinkedManualControl_) {
            alignLinkedFans(*fan, value);
        }
    } else {
        ManualRPMMap manual = manualRPM_;
        manual[fanIndex] = rpm;
        if (isLinkedManualControl_) {
            for (const FanInfo& g : fans_) {
                manual[g.id] = clampToFan(rpm, g);
            }
        }
        publish_manualRPM(std::move(manual));
    }
    collaborators_.presetManager.saveManualRPM(manualRPM_);
    selectPreset(ActivePresetSelection::manualFixed());
}

double FanViewModel::sliderRPM(const FanInfo& f) const {
    const float base = isAuto(activeSelection_) ? f.currentRPM : f.targetRPM;
    auto found = manualRPM_.find(f.id);
    const float value = found != manualRPM_.end() ? found->second : std::max(f.minRPM, base);
    if (!std::isfinite(value)) {
        return f.minRPM;
    }
    const float upper = std::max(f.maxRPM, f.minRPM + 1);
    return std::max(f.minRPM, std::min(upper, value));
}

void FanViewModel::toggleLinkedManualControl() {
    publish_isLinkedManualControl(!isLinkedManualControl_);
    if (!isLinkedManualControl_ || fans_.empty()) {
        return;
    }
    const FanInfo leader = fans_.front();
    auto found = manualRPM_.find(leader.id);
    const float value = clampToFan(
        found != manualRPM_.end() ? found->second : std::max(leader.currentRPM, leader.minRPM),
        leader);
    ManualRPMMap manual = manualRPM_;
    manual[leader.id] = value;
    publish_manualRPM(std::move(manual));
    alignLinkedFans(leader, value);
    if (activeSelection_.kind() == ActivePresetSelection::Kind::manualFixed) {
        collaborators_.presetManager.saveManualRPM(manualRPM_);
        evaluatePresetRules(true);
    }
}

void FanViewModel::syncManualRPM(const TelemetrySnapshot& snapshot) {
    ManualRPMMap manual = manualRPM_;
    for (const FanInfo& f : snapshot.fans) {
        if (activeSelection_.kind() == ActivePresetSelection::Kind::manualFixed) {
            auto found = manual.find(f.id);
            manual[f.id] = found != manual.end() && std::isfinite(found->second)
                               ? clampToFan(found->second, f)
                               : clampToFan(f.currentRPM, f);
        } else {
            auto target = collaborators_.presetManager.evaluateTargetRPM(f, snapshot, std::nullopt,
                                                                         activeSelection_);
            manual[f.id] =
                clampToFan(target.mode == FanMode::manual ? target.targetRPM : f.currentRPM, f);
        }
    }
    publish_manualRPM(std::move(manual));
}

void FanViewModel::saveCustomPreset(const CustomCurvePreset& preset) {
    collaborators_.presetManager.savePreset(preset);
    publish_customPresets(collaborators_.presetManager.customPresets());
    if (activeSelection_ == ActivePresetSelection::custom(preset.id)) {
        evaluatePresetRules(true);
    }
}

void FanViewModel::deleteCustomPreset(const Uuid& id) {
    const bool wasActive = activeSelection_ == ActivePresetSelection::custom(id);
    collaborators_.presetManager.deletePreset(id);
    publish_customPresets(collaborators_.presetManager.customPresets());
    publish_activeSelection(collaborators_.presetManager.activeSelection());
    if (wasActive) {
        evaluatePresetRules(true);
    }
}

void FanViewModel::loadPresets() {
    auto& store = collaborators_.presetManager;
    store.loadPresets();
    publish_customPresets(store.customPresets());
    publish_activeSelection(store.activeSelection());
    publish_menuBarSettings(store.menuBarSettings());
    ManualRPMMap manual = manualRPM_;
    for (const auto& [id, rpm] : store.savedManualRPM()) {
        if (std::isfinite(rpm)) {
            manual[id] = rpm;
        }
    }
    publish_manualRPM(std::move(manual));
}

void FanViewModel::updateMenuBarSettings(MenuBarDisplaySettings settings) {
    if (!settings.showIcon && !settings.showPercentage && !settings.showRPM &&
        !settings.showCPUTemp && !settings.showGPUTemp && !settings.showPowerWatts &&
        !settings.showBatteryPercent) {
        settings.showIcon = true;
    }
    publish_menuBarSettings(settings);
    collaborators_.presetManager.saveMenuBarSettings(settings);
    if (isTelemetryActive_) {
        if (settings.showPowerWatts || settings.showCPUTemp || settings.showGPUTemp ||
            settings.trioCenterSlot == TrioCenterSlot::powerWatts) {
            pollTelemetry(false);
        }
        rescheduleTimerIfNeeded();
    }
}

// Authorization, Low Power Mode, the simulation switch and termination.

void FanViewModel::requestAuthorization() {
    if (isAuthorizing_) {
        return;
    }
    publish_isAuthorizing(true);
    publish_lastErrorMessage(std::nullopt);
    QPointer<FanViewModel> self(this);
    std::weak_ptr<bool> alive = alive_;
    collaborators_.writer.authorize([self, alive](WriteResult result) {
        postToMainThread([self, alive, result] {
            if (alive.expired() || !self) {
                return;
            }
            FanWriter& writer = self->collaborators_.writer;
            self->publish_isAuthorizing(false);
            if (result) {
                self->publish_privilegeStatus(writer.checkPrivilegeStatus());
                self->publish_isAuthorized(writer.checkPrivilegeStatus() !=
                                           PrivilegedWriteMode::unauthorized);
                self->publish_lastErrorMessage(std::string(result->what()));
                return;
            }
            self->sudoFallbackConfirmedUnavailable_ = false;
            self->publish_privilegeStatus(writer.checkPrivilegeStatus());
            self->publish_isAuthorized(writer.checkPrivilegeStatus() !=
                                       PrivilegedWriteMode::unauthorized);
            self->publish_lastErrorMessage(std::nullopt);
            self->lastWrittenState_.clear(); // every fan is written again
            self->evaluatePresetRules(true);
        });
    });
}

void FanViewModel::setBatteryLowPowerMode(bool enabled) {
    BatteryStateSnapshot battery = batteryState_;
    battery.isLowPowerMode = enabled;
    publish_batteryState(std::move(battery));
}

void FanViewModel::setLowPowerMode(bool enabled) {
    if (isTogglingLowPowerMode_) {
        return;
    }
    const bool previous = batteryState_.isLowPowerMode;
    setBatteryLowPowerMode(enabled);
    publish_lastErrorMessage(std::nullopt);
    if (isSimulatedMode_) {
        collaborators_.sim.setLowPowerMode(enabled);
        return;
    }
    publish_isTogglingLowPowerMode(true);
    QPointer<FanViewModel> self(this);
    std::weak_ptr<bool> alive = alive_;
    collaborators_.writer.setLowPowerMode(enabled, [self, alive, previous](WriteResult result) {
        postToMainThread([self, alive, previous, result] {
            if (alive.expired() || !self) {
                return;
            }
            self->publish_isTogglingLowPowerMode(false);
            if (result) {
                self->setBatteryLowPowerMode(previous);
                self->publish_lastErrorMessage(std::string(result->what()));
                return;
            }
            FanWriter& writer = self->collaborators_.writer;
            self->publish_privilegeStatus(writer.checkPrivilegeStatus());
            self->publish_isAuthorized(writer.checkPrivilegeStatus() !=
                                       PrivilegedWriteMode::unauthorized);
            if (self->collaborators_.isLowPowerModeEnabled) {
                self->setBatteryLowPowerMode(self->collaborators_.isLowPowerModeEnabled());
            }
            self->pollTelemetry(self->isAnyUIVisible());
        });
    });
}

void FanViewModel::toggleLowPowerMode() {
    setLowPowerMode(!batteryState_.isLowPowerMode);
}

void FanViewModel::toggleSimulationMode() {
    if (!isSimulatedMode_ && isAuthorized_ && hardwareFanCount_ > 0 &&
        std::any_of(lastWrittenState_.begin(), lastWrittenState_.end(),
                    [](const auto& entry) { return entry.second.mode == FanMode::manual; })) {
        collaborators_.writer.restoreAllFansToAuto(nullptr);
    }
    publish_isSimulatedMode(!isSimulatedMode_);
    if (isSimulatedMode_) {
        publish_privilegeStatus(PrivilegedWriteMode::simulationOnly);
        publish_isAuthorized(true);
        publish_lastErrorMessage(std::nullopt);
    } else {
        FanWriter& writer = collaborators_.writer;
        publish_privilegeStatus(writer.checkPrivilegeStatus());
        publish_isAuthorized(writer.checkPrivilegeStatus() != PrivilegedWriteMode::unauthorized);
    }
    inFlightFanWrites_.clear();
    pendingFanWrites_.clear();
    lastWrittenState_.clear();
    publish_manualRPM({});
    publish_powerHistory({});
    pollTelemetry(false);
    evaluatePresetRules(false);
}

void FanViewModel::clearError() {
    publish_lastErrorMessage(std::nullopt);
}

void FanViewModel::powerStateChanged(bool isLowPowerMode) {
    if (!isSimulatedMode_) {
        setBatteryLowPowerMode(isLowPowerMode);
    }
}

void FanViewModel::setupTerminationObserver() {
    if (auto* app = QCoreApplication::instance()) {
        terminationObserver_ =
            connect(app, &QCoreApplication::aboutToQuit, this, &FanViewModel::handleTermination);
    }
    if (collaborators_.subscribeToPowerState) {
        QPointer<FanViewModel> self(this);
        std::weak_ptr<bool> alive = alive_;
        collaborators_.subscribeToPowerState([self, alive](bool enabled) {
            postToMainThread([self, alive, enabled] {
                if (!alive.expired() && self) {
                    self->powerStateChanged(enabled);
                }
            });
        });
    }
}

void FanViewModel::handleTermination() {
    if (hasHandledTermination_) {
        return;
    }
    hasHandledTermination_ = true;
    stopTelemetry();
    FanWriter& writer = collaborators_.writer;
    if (isSimulatedMode_) {
        collaborators_.sim.resetAllToAuto();
        if (hardwareFanCount_ > 0 &&
            writer.checkPrivilegeStatus() != PrivilegedWriteMode::unauthorized) {
            writer.restoreAllFansToAutoSynchronously(terminationRestoreSeconds);
        }
    } else if (hardwareFanCount_ > 0) {
        writer.restoreAllFansToAutoSynchronously(terminationRestoreSeconds);
    }
}

// Derived readouts.

float FanViewModel::averageRPM() const {
    if (fans_.empty()) {
        return 0;
    }
    float sum = 0;
    for (const FanInfo& f : fans_) {
        sum += f.currentRPM;
    }
    return sum / static_cast<float>(fans_.size());
}

float FanViewModel::averageMinRPM() const {
    if (fans_.empty()) {
        return 1200;
    }
    float sum = 0;
    for (const FanInfo& f : fans_) {
        sum += f.minRPM;
    }
    return sum / static_cast<float>(fans_.size());
}

float FanViewModel::averageMaxRPM() const {
    if (fans_.empty()) {
        return 6500;
    }
    float sum = 0;
    for (const FanInfo& f : fans_) {
        sum += f.maxRPM;
    }
    return std::max(sum / static_cast<float>(fans_.size()), averageMinRPM() + 100);
}

int FanViewModel::averageFanPercentage() const {
    if (fans_.empty()) {
        return 0;
    }
    double sum = 0;
    for (const FanInfo& f : fans_) {
        sum += f.percentage();
    }
    const double value = roundHalfAway(sum / static_cast<double>(fans_.size()) * 100);
    if (!std::isfinite(value)) {
        return 0;
    }
    return static_cast<int>(std::clamp(value, 0.0, 100.0));
}

std::string FanViewModel::menuBarLabelText() const {
    const auto& m = menuBarSettings_;
    std::vector<std::string> parts;
    if (m.showPercentage) {
        parts.push_back(std::to_string(averageFanPercentage()) + "%");
    }
    if (m.showRPM) {
        parts.push_back(QLocale().toString(roundedInteger(averageRPM())).toStdString() + " RPM");
    }
    if (m.showCPUTemp) {
        parts.push_back(std::to_string(roundedInteger(cpuTemperature_)) + "\u00B0C");
    }
    if (m.showGPUTemp) {
        parts.push_back("GPU " + std::to_string(roundedInteger(gpuTemperature_)) + "\u00B0C");
    }
    if (m.showPowerWatts) {
        if (auto watts = powerTelemetry_.primaryMenuBarWatts()) {
            parts.push_back(PowerFormatters::compactMenuBarWatts(*watts));
        }
    }
    if (m.showBatteryPercent && batteryState_.isPresent) {
        parts.push_back(std::to_string(batteryState_.percentage) + "%");
    }
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += (i ? " \u2022 " : "") + parts[i];
    }
    return text;
}

bool FanViewModel::isManualOrCurveOverride() const {
    return !isAuto(activeSelection_);
}

double FanViewModel::batteryTemperature() const {
    if (auto t = batteryHealth_.temperatureCelsius; t && std::isfinite(*t) && *t > 0) {
        return *t;
    }
    for (const ThermalSensor& sensor : sensors_) {
        if (sensor.category == SensorCategory::battery && std::isfinite(sensor.temperature)) {
            return sensor.temperature;
        }
    }
    return 32.0;
}

PowerInfoBarState FanViewModel::powerInfoBarState() const {
    return PowerInfoBarState::make(batteryState_, powerTelemetry_);
}

std::optional<PowerFlowDiagramState> FanViewModel::powerFlowState() const {
    return PowerFlowDiagramState::resolve(batteryState_, powerTelemetry_);
}

TrioIconRenderKey FanViewModel::menuBarTrioKey(double pointSize,
                                               std::optional<bool> isDarkAppearance) const {
    return TrioMenuBarIconRenderer::makeKey(pointSize, isDarkAppearance, menuBarSettings_,
                                            batteryState_, powerTelemetry_, averageFanPercentage(),
                                            isManualOrCurveOverride(), collaborators_.systemIsDark);
}

std::optional<QImage> FanViewModel::menuBarTrioImage(double pointSize,
                                                     std::optional<bool> isDarkAppearance) const {
    const double scale = collaborators_.screenScale ? collaborators_.screenScale() : 2.0;
    const TrioIconRenderKey key = menuBarTrioKey(pointSize, isDarkAppearance);
    if (isDarkAppearance) {
        return TrioMenuBarIconRenderer::render(key, scale);
    }
    return TrioMenuBarIconRenderer::renderDynamicMenuBarImage(key, scale,
                                                              collaborators_.systemIsDark);
}

} // namespace ventoral
