// The engine's construction, the visibility of its windows, and what several concerns share.
#include "application/engine/FanViewModel.h"

namespace ventoral {

FanViewModel::FanViewModel(FanViewModelCollaborators collaborators, bool autoStartTelemetry,
                           QObject* parent)
    : QObject(parent), collaborators_(std::move(collaborators)), lastTickTime_(now()) {
    batteryHealth_.value.uptimeSeconds =
        collaborators_.systemUptime ? collaborators_.systemUptime() : 0.0;
    powerTelemetry_.value.readAt = now();
    MenuBarDisplaySettings initial;
    initial.showIcon = true;
    initial.showPercentage = true;
    initial.showCPUTemp = true;
    menuBarSettings_.value = initial;
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

void FanViewModel::publishPrivilegeStatus() {
    const PrivilegedWriteMode status = collaborators_.writer.checkPrivilegeStatus();
    publish(privilegeStatus_, status);
    publish(isAuthorized_, status != PrivilegedWriteMode::unauthorized);
}

void FanViewModel::clearError() {
    publish(lastErrorMessage_, std::nullopt);
}

// Visibility.

void FanViewModel::setSelectedDashboardSection(DashboardSection section) {
    if (section == selectedDashboardSection_.value) {
        return;
    }
    publish(selectedDashboardSection_, section);
    if (isDashboardVisible_.value) {
        pollTelemetry(true);
        rescheduleTimerIfNeeded();
    }
}

void FanViewModel::setPopoverVisible(bool visible) {
    if (visible == isPopoverVisible_.value) {
        return;
    }
    publish(isPopoverVisible_, visible);
    if (!visible) {
        publish(isPopoverShowingBatteryDetails_, false);
    }
    if (visible && isTelemetryActive_) {
        pollTelemetry(true);
    }
    rescheduleTimerIfNeeded();
}

void FanViewModel::setPopoverBatteryDetailsVisible(bool visible) {
    if (visible == isPopoverShowingBatteryDetails_.value) {
        return;
    }
    publish(isPopoverShowingBatteryDetails_, visible);
    if (visible && isTelemetryActive_) {
        pollTelemetry(true);
    }
}

void FanViewModel::setDashboardVisible(bool visible) {
    if (visible == isDashboardVisible_.value) {
        return;
    }
    publish(isDashboardVisible_, visible);
    if (visible && isTelemetryActive_) {
        pollTelemetry(true);
    }
    rescheduleTimerIfNeeded();
}

bool FanViewModel::needsTopEnergyApps() const {
    return (isPopoverVisible_.value && isPopoverShowingBatteryDetails_.value) ||
           (isDashboardVisible_.value &&
            selectedDashboardSection_.value == DashboardSection::batteryPower);
}

bool FanViewModel::needsAllThermalSensors() const {
    return (isDashboardVisible_.value &&
            selectedDashboardSection_.value == DashboardSection::sensors) ||
           !isTelemetryActive_;
}

} // namespace ventoral
