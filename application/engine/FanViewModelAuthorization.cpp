// Authorization, Low Power Mode, the simulation switch and termination.
#include "application/engine/FanViewModel.h"

#include <QCoreApplication>

namespace ventoral {
namespace {

constexpr double terminationRestoreSeconds = 1.5;

} // namespace

void FanViewModel::requestAuthorization() {
    if (isAuthorizing_.value) {
        return;
    }
    publish(isAuthorizing_, true);
    publish(lastErrorMessage_, std::nullopt);
    collaborators_.writer.authorize(onMainThread([](FanViewModel& self, WriteResult result) {
        self.publish(self.isAuthorizing_, false);
        self.publishPrivilegeStatus();
        if (result) {
            self.publish(self.lastErrorMessage_, std::string(result->what()));
            return;
        }
        self.sudoFallbackConfirmedUnavailable_ = false;
        self.publish(self.lastErrorMessage_, std::nullopt);
        self.pipeline_.forgetWrittenState(); // every fan is written again
        self.evaluatePresetRules(true);
    }));
}

void FanViewModel::setBatteryLowPowerMode(bool enabled) {
    BatteryStateSnapshot battery = batteryState_.value;
    battery.isLowPowerMode = enabled;
    publish(batteryState_, std::move(battery));
}

void FanViewModel::setLowPowerMode(bool enabled) {
    if (isTogglingLowPowerMode_.value) {
        return;
    }
    const bool previous = batteryState_.value.isLowPowerMode;
    setBatteryLowPowerMode(enabled);
    publish(lastErrorMessage_, std::nullopt);
    if (isSimulatedMode_.value) {
        collaborators_.sim.setLowPowerMode(enabled);
        return;
    }
    publish(isTogglingLowPowerMode_, true);
    collaborators_.writer.setLowPowerMode(
        enabled, onMainThread([previous](FanViewModel& self, WriteResult result) {
            self.publish(self.isTogglingLowPowerMode_, false);
            if (result) {
                self.setBatteryLowPowerMode(previous);
                self.publish(self.lastErrorMessage_, std::string(result->what()));
                return;
            }
            self.publishPrivilegeStatus();
            if (self.collaborators_.isLowPowerModeEnabled) {
                self.setBatteryLowPowerMode(self.collaborators_.isLowPowerModeEnabled());
            }
            self.pollTelemetry(self.isAnyUIVisible());
        }));
}

void FanViewModel::toggleLowPowerMode() {
    setLowPowerMode(!batteryState_.value.isLowPowerMode);
}

void FanViewModel::toggleSimulationMode() {
    if (!isSimulatedMode_.value && isAuthorized_.value && hardwareFanCount_.value > 0 &&
        pipeline_.hasManualWrite()) {
        collaborators_.writer.restoreAllFansToAuto(nullptr);
    }
    publish(isSimulatedMode_, !isSimulatedMode_.value);
    if (isSimulatedMode_.value) {
        publish(privilegeStatus_, PrivilegedWriteMode::simulationOnly);
        publish(isAuthorized_, true);
        publish(lastErrorMessage_, std::nullopt);
    } else {
        publishPrivilegeStatus();
    }
    releaseContestedFans();
    pipeline_.clear();
    publish(manualRPM_, ManualRPMMap{});
    publish(powerHistory_, std::vector<PowerHistoryPoint>{});
    pollTelemetry(false);
    evaluatePresetRules(false);
}

void FanViewModel::powerStateChanged(bool isLowPowerMode) {
    if (!isSimulatedMode_.value) {
        setBatteryLowPowerMode(isLowPowerMode);
    }
}

void FanViewModel::setupTerminationObserver() {
    if (auto* app = QCoreApplication::instance()) {
        terminationObserver_ =
            connect(app, &QCoreApplication::aboutToQuit, this, &FanViewModel::handleTermination);
    }
    if (collaborators_.subscribeToPowerState) {
        collaborators_.subscribeToPowerState(onMainThread(
            [](FanViewModel& self, bool enabled) { self.powerStateChanged(enabled); }));
    }
}

void FanViewModel::handleTermination() {
    if (hasHandledTermination_) {
        return;
    }
    hasHandledTermination_ = true;
    stopTelemetry();
    FanWriter& writer = collaborators_.writer;
    if (isSimulatedMode_.value) {
        collaborators_.sim.resetAllToAuto();
        if (hardwareFanCount_.value > 0 &&
            writer.checkPrivilegeStatus() != PrivilegedWriteMode::unauthorized) {
            writer.restoreAllFansToAutoSynchronously(terminationRestoreSeconds);
        }
    } else if (hardwareFanCount_.value > 0) {
        writer.restoreAllFansToAutoSynchronously(terminationRestoreSeconds);
    }
}

} // namespace ventoral
