#pragma once

#include "application/menubar/TrioIconRenderKey.h"
#include "application/privileged/FanWriter.h"
#include "core/power/AppEnergyEntry.h"
#include "core/power/BatteryStateSnapshot.h"
#include "core/power/PowerBatteryService.h"
#include "core/power/PowerFlowDiagramState.h"
#include "core/power/PowerInfoBarState.h"
#include "core/power/PowerTelemetrySnapshot.h"
#include "core/presets/FanPresetManager.h"
#include "core/simulation/FanSimulationService.h"
#include "core/smc/SMCService.h"
#include "core/telemetry/DashboardSection.h"
#include "core/telemetry/TelemetrySnapshot.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ventoral {

// The services the engine reads and drives, fixed at construction.
struct FanViewModelCollaborators {
    FanViewModelCollaborators(SMCService& smc_, FanSimulationService& sim_,
                              PowerBatteryService& powerService_, FanPresetManager& presetManager_,
                              FanWriter& writer_)
        : smc(smc_), sim(sim_), powerService(powerService_), presetManager(presetManager_),
          writer(writer_) {}

    SMCService& smc;
    FanSimulationService& sim;
    PowerBatteryService& powerService;
    FanPresetManager& presetManager;
    FanWriter& writer;
    WallClock now = systemWallClock();
    std::function<double()> systemUptime;
    std::function<bool()> systemIsDark;  // the tray's appearance
    std::function<double()> screenScale; // pixels per point of the main screen
    // The system's Low Power Mode now, and a subscription to its changes (called back on any
    // thread); either may be absent.
    std::function<bool()> isLowPowerModeEnabled = nullptr;
    std::function<void(std::function<void(bool)>)> subscribeToPowerState = nullptr;
};

// The last successful write of a fan, and a wish parked while the fan is busy.
struct WrittenFanState {
    float rpm = 0; // for an automatic write, the fan's minimum at the time
    FanMode mode = FanMode::automatic;
    TimePoint writtenAt{};
    friend bool operator==(const WrittenFanState&, const WrittenFanState&) = default;
};
struct PendingFanWrite {
    float rpm = 0;
    FanMode mode = FanMode::automatic;
    float minRPM = 0;
    friend bool operator==(const PendingFanWrite&, const PendingFanWrite&) = default;
};

namespace EngineText {
inline constexpr const char* authorizationRequired =
    "Fan control requires administrator privileges. Click 'Authorize Fan Control' to enable.";
inline constexpr const char* safetyPrefix = "Thermal Watchdog: CPU hit ";
inline constexpr const char* safetySuffix = "\u00B0C! Restoring Auto cooling.";
} // namespace EngineText

// The engine: the published state every view reads, the telemetry loop, and the fans driven
// from the active preset. Main thread only.
class FanViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(ventoral::DashboardSection selectedDashboardSection READ selectedDashboardSection
                   NOTIFY selectedDashboardSectionChanged)
    Q_PROPERTY(bool isSimulatedMode READ isSimulatedMode NOTIFY isSimulatedModeChanged)
    Q_PROPERTY(int hardwareFanCount READ hardwareFanCount NOTIFY hardwareFanCountChanged)
    Q_PROPERTY(std::vector<ventoral::FanInfo> fans READ fans NOTIFY fansChanged)
    Q_PROPERTY(std::vector<ventoral::ThermalSensor> sensors READ sensors NOTIFY sensorsChanged)
    Q_PROPERTY(double cpuTemperature READ cpuTemperature NOTIFY cpuTemperatureChanged)
    Q_PROPERTY(double gpuTemperature READ gpuTemperature NOTIFY gpuTemperatureChanged)
    Q_PROPERTY(double aneTemperature READ aneTemperature NOTIFY aneTemperatureChanged)
    Q_PROPERTY(
        ventoral::BatteryStateSnapshot batteryState READ batteryState NOTIFY batteryStateChanged)
    Q_PROPERTY(ventoral::PowerTelemetrySnapshot powerTelemetry READ powerTelemetry NOTIFY
                   powerTelemetryChanged)
    Q_PROPERTY(ventoral::BatteryHealthSnapshot batteryHealth READ batteryHealth NOTIFY
                   batteryHealthChanged)
    Q_PROPERTY(std::vector<ventoral::AppEnergyEntry> topEnergyApps READ topEnergyApps NOTIFY
                   topEnergyAppsChanged)
    Q_PROPERTY(std::vector<ventoral::PowerHistoryPoint> powerHistory READ powerHistory NOTIFY
                   powerHistoryChanged)
    Q_PROPERTY(ventoral::ActivePresetSelection activeSelection READ activeSelection NOTIFY
                   activeSelectionChanged)
    Q_PROPERTY(std::vector<ventoral::CustomCurvePreset> customPresets READ customPresets NOTIFY
                   customPresetsChanged)
    Q_PROPERTY(bool isSafetyTripped READ isSafetyTripped NOTIFY isSafetyTrippedChanged)
    Q_PROPERTY(
        std::optional<std::string> safetyMessage READ safetyMessage NOTIFY safetyMessageChanged)
    Q_PROPERTY(ventoral::ManualRPMMap manualRPM READ manualRPM NOTIFY manualRPMChanged)
    Q_PROPERTY(
        bool isLinkedManualControl READ isLinkedManualControl NOTIFY isLinkedManualControlChanged)
    Q_PROPERTY(ventoral::MenuBarDisplaySettings menuBarSettings READ menuBarSettings NOTIFY
                   menuBarSettingsChanged)
    Q_PROPERTY(ventoral::PrivilegedWriteMode privilegeStatus READ privilegeStatus NOTIFY
                   privilegeStatusChanged)
    Q_PROPERTY(bool isAuthorized READ isAuthorized NOTIFY isAuthorizedChanged)
    Q_PROPERTY(bool isAuthorizing READ isAuthorizing NOTIFY isAuthorizingChanged)
    Q_PROPERTY(bool isTogglingLowPowerMode READ isTogglingLowPowerMode NOTIFY
                   isTogglingLowPowerModeChanged)
    Q_PROPERTY(std::optional<std::string> lastErrorMessage READ lastErrorMessage NOTIFY
                   lastErrorMessageChanged)
    Q_PROPERTY(bool isPopoverVisible READ isPopoverVisible NOTIFY isPopoverVisibleChanged)
    Q_PROPERTY(bool isPopoverShowingBatteryDetails READ isPopoverShowingBatteryDetails NOTIFY
                   isPopoverShowingBatteryDetailsChanged)
    Q_PROPERTY(bool isDashboardVisible READ isDashboardVisible NOTIFY isDashboardVisibleChanged)

public:
    FanViewModel(FanViewModelCollaborators collaborators, bool autoStartTelemetry,
                 QObject* parent = nullptr);
    ~FanViewModel() override;
    static FanViewModel& shared();

    const ventoral::DashboardSection& selectedDashboardSection() const {
        return selectedDashboardSection_;
    }
    const bool& isSimulatedMode() const { return isSimulatedMode_; }
    const int& hardwareFanCount() const { return hardwareFanCount_; }
    const std::vector<ventoral::FanInfo>& fans() const { return fans_; }
    const std::vector<ventoral::ThermalSensor>& sensors() const { return sensors_; }
    const double& cpuTemperature() const { return cpuTemperature_; }
    const double& gpuTemperature() const { return gpuTemperature_; }
    const double& aneTemperature() const { return aneTemperature_; }
    const ventoral::BatteryStateSnapshot& batteryState() const { return batteryState_; }
    const ventoral::PowerTelemetrySnapshot& powerTelemetry() const { return powerTelemetry_; }
    const ventoral::BatteryHealthSnapshot& batteryHealth() const { return batteryHealth_; }
    const std::vector<ventoral::AppEnergyEntry>& topEnergyApps() const { return topEnergyApps_; }
    const std::vector<ventoral::PowerHistoryPoint>& powerHistory() const { return powerHistory_; }
    const ventoral::ActivePresetSelection& activeSelection() const { return activeSelection_; }
    const std::vector<ventoral::CustomCurvePreset>& customPresets() const { return customPresets_; }
    const bool& isSafetyTripped() const { return isSafetyTripped_; }
    const std::optional<std::string>& safetyMessage() const { return safetyMessage_; }
    const ventoral::ManualRPMMap& manualRPM() const { return manualRPM_; }
    const bool& isLinkedManualControl() const { return isLinkedManualControl_; }
    const ventoral::MenuBarDisplaySettings& menuBarSettings() const { return menuBarSettings_; }
    const ventoral::PrivilegedWriteMode& privilegeStatus() const { return privilegeStatus_; }
    const bool& isAuthorized() const { return isAuthorized_; }
    const bool& isAuthorizing() const { return isAuthorizing_; }
    const bool& isTogglingLowPowerMode() const { return isTogglingLowPowerMode_; }
    const std::optional<std::string>& lastErrorMessage() const { return lastErrorMessage_; }
    const bool& isPopoverVisible() const { return isPopoverVisible_; }
    const bool& isPopoverShowingBatteryDetails() const { return isPopoverShowingBatteryDetails_; }
    const bool& isDashboardVisible() const { return isDashboardVisible_; }
    double scheduledInterval() const { return scheduledInterval_; }
    bool isTelemetryActive() const { return isTelemetryActive_; }
    const std::optional<TelemetrySnapshot>& latestSnapshot() const { return latestSnapshot_; }
    QTimer* timer() const { return timer_; }
    // The slack the timer may take: a quarter of its period, at most 2 s.
    double timerTolerance() const;

    const std::map<std::int64_t, WrittenFanState>& lastWrittenState() const {
        return lastWrittenState_;
    }
    const std::set<std::int64_t>& inFlightFanWrites() const { return inFlightFanWrites_; }
    const std::map<std::int64_t, PendingFanWrite>& pendingFanWrites() const {
        return pendingFanWrites_;
    }
    bool sudoFallbackConfirmedUnavailable() const { return sudoFallbackConfirmedUnavailable_; }
    bool hasHandledTermination() const { return hasHandledTermination_; }

    // The write pipeline.
    void handleWriteError(const SMCError& error);

    // Authorization, Low Power Mode, the simulation switch and termination.
    void requestAuthorization();
    void setLowPowerMode(bool enabled);
    void toggleLowPowerMode();
    void toggleSimulationMode();
    void clearError();
    void handleTermination();
    // A change of the system's Low Power Mode, as its source reports it.
    void powerStateChanged(bool isLowPowerMode);

    // The loop.
    void checkHardware();
    void startTelemetry();
    void stopTelemetry();
    void rescheduleTimerIfNeeded();
    double desiredPollInterval() const;
    void telemetryTick();
    void pollTelemetry(bool forceFull);
    void refreshAsyncBatteryCache();

    // Visibility.
    void setSelectedDashboardSection(DashboardSection section);
    void setPopoverVisible(bool visible);
    void setPopoverBatteryDetailsVisible(bool visible);
    void setDashboardVisible(bool visible);
    bool isAnyUIVisible() const { return isPopoverVisible_ || isDashboardVisible_; }
    bool needsTopEnergyApps() const;
    bool needsAllThermalSensors() const;

    // Preset rules and the watchdog.
    void evaluatePresetRules(bool userInitiated = false);
    void checkSafetyWatchdog();

    // Manual control and presets.
    void selectPreset(const ActivePresetSelection& selection);
    void setManualRPM(std::int64_t fanIndex, float rpm);
    double sliderRPM(const FanInfo& fan) const;
    void toggleLinkedManualControl();
    void syncManualRPM(const TelemetrySnapshot& snapshot);
    void saveCustomPreset(const CustomCurvePreset& preset);
    void deleteCustomPreset(const Uuid& id);
    void loadPresets();
    void updateMenuBarSettings(MenuBarDisplaySettings settings);

    // Derived readouts.
    float averageRPM() const;
    float averageMinRPM() const;
    float averageMaxRPM() const;
    int averageFanPercentage() const;
    std::string menuBarLabelText() const;
    bool isManualOrCurveOverride() const;
    double batteryTemperature() const;
    PowerInfoBarState powerInfoBarState() const;
    std::optional<PowerFlowDiagramState> powerFlowState() const;
    TrioIconRenderKey menuBarTrioKey(double pointSize, std::optional<bool> isDarkAppearance) const;
    std::optional<QImage> menuBarTrioImage(double pointSize,
                                           std::optional<bool> isDarkAppearance) const;

signals:
    void selectedDashboardSectionChanged();
    void isSimulatedModeChanged();
    void hardwareFanCountChanged();
    void fansChanged();
    void sensorsChanged();
    void cpuTemperatureChanged();
    void gpuTemperatureChanged();
    void aneTemperatureChanged();
    void batteryStateChanged();
    void powerTelemetryChanged();
    void batteryHealthChanged();
    void topEnergyAppsChanged();
    void powerHistoryChanged();
    void activeSelectionChanged();
    void customPresetsChanged();
    void isSafetyTrippedChanged();
    void safetyMessageChanged();
    void manualRPMChanged();
    void isLinkedManualControlChanged();
    void menuBarSettingsChanged();
    void privilegeStatusChanged();
    void isAuthorizedChanged();
    void isAuthorizingChanged();
    void isTogglingLowPowerModeChanged();
    void lastErrorMessageChanged();
    void isPopoverVisibleChanged();
    void isPopoverShowingBatteryDetailsChanged();
    void isDashboardVisibleChanged();

private:
    template <typename T> void publish(T& field, T value, void (FanViewModel::*changed)()) {
        if (!(field == value)) {
            field = std::move(value);
            emit(this->*changed)();
        }
    }
    void publish_selectedDashboardSection(DashboardSection value) {
        publish(selectedDashboardSection_, std::move(value),
                &FanViewModel::selectedDashboardSectionChanged);
    }
    void publish_isSimulatedMode(bool value) {
        publish(isSimulatedMode_, std::move(value), &FanViewModel::isSimulatedModeChanged);
    }
    void publish_hardwareFanCount(int value) {
        publish(hardwareFanCount_, std::move(value), &FanViewModel::hardwareFanCountChanged);
    }
    void publish_fans(std::vector<FanInfo> value) {
        publish(fans_, std::move(value), &FanViewModel::fansChanged);
    }
    void publish_sensors(std::vector<ThermalSensor> value) {
        publish(sensors_, std::move(value), &FanViewModel::sensorsChanged);
    }
    void publish_cpuTemperature(double value) {
        publish(cpuTemperature_, std::move(value), &FanViewModel::cpuTemperatureChanged);
    }
    void publish_gpuTemperature(double value) {
        publish(gpuTemperature_, std::move(value), &FanViewModel::gpuTemperatureChanged);
    }
    void publish_aneTemperature(double value) {
        publish(aneTemperature_, std::move(value), &FanViewModel::aneTemperatureChanged);
    }
    void publish_batteryState(BatteryStateSnapshot value) {
        publish(batteryState_, std::move(value), &FanViewModel::batteryStateChanged);
    }
    void publish_powerTelemetry(PowerTelemetrySnapshot value) {
        publish(powerTelemetry_, std::move(value), &FanViewModel::powerTelemetryChanged);
    }
    void publish_batteryHealth(BatteryHealthSnapshot value) {
        publish(batteryHealth_, std::move(value), &FanViewModel::batteryHealthChanged);
    }
    void publish_topEnergyApps(std::vector<AppEnergyEntry> value) {
        publish(topEnergyApps_, std::move(value), &FanViewModel::topEnergyAppsChanged);
    }
    void publish_powerHistory(std::vector<PowerHistoryPoint> value) {
        publish(powerHistory_, std::move(value), &FanViewModel::powerHistoryChanged);
    }
    void publish_activeSelection(ActivePresetSelection value) {
        publish(activeSelection_, std::move(value), &FanViewModel::activeSelectionChanged);
    }
    void publish_customPresets(std::vector<CustomCurvePreset> value) {
        publish(customPresets_, std::move(value), &FanViewModel::customPresetsChanged);
    }
    void publish_isSafetyTripped(bool value) {
        publish(isSafetyTripped_, std::move(value), &FanViewModel::isSafetyTrippedChanged);
    }
    void publish_safetyMessage(std::optional<std::string> value) {
        publish(safetyMessage_, std::move(value), &FanViewModel::safetyMessageChanged);
    }
    void publish_manualRPM(ManualRPMMap value) {
        publish(manualRPM_, std::move(value), &FanViewModel::manualRPMChanged);
    }
    void publish_isLinkedManualControl(bool value) {
        publish(isLinkedManualControl_, std::move(value),
                &FanViewModel::isLinkedManualControlChanged);
    }
    void publish_menuBarSettings(MenuBarDisplaySettings value) {
        publish(menuBarSettings_, std::move(value), &FanViewModel::menuBarSettingsChanged);
    }
    void publish_privilegeStatus(PrivilegedWriteMode value) {
        publish(privilegeStatus_, std::move(value), &FanViewModel::privilegeStatusChanged);
    }
    void publish_isAuthorized(bool value) {
        publish(isAuthorized_, std::move(value), &FanViewModel::isAuthorizedChanged);
    }
    void publish_isAuthorizing(bool value) {
        publish(isAuthorizing_, std::move(value), &FanViewModel::isAuthorizingChanged);
    }
    void publish_isTogglingLowPowerMode(bool value) {
        publish(isTogglingLowPowerMode_, std::move(value),
                &FanViewModel::isTogglingLowPowerModeChanged);
    }
    void publish_lastErrorMessage(std::optional<std::string> value) {
        publish(lastErrorMessage_, std::move(value), &FanViewModel::lastErrorMessageChanged);
    }
    void publish_isPopoverVisible(bool value) {
        publish(isPopoverVisible_, std::move(value), &FanViewModel::isPopoverVisibleChanged);
    }
    void publish_isPopoverShowingBatteryDetails(bool value) {
        publish(isPopoverShowingBatteryDetails_, std::move(value),
                &FanViewModel::isPopoverShowingBatteryDetailsChanged);
    }
    void publish_isDashboardVisible(bool value) {
        publish(isDashboardVisible_, std::move(value), &FanViewModel::isDashboardVisibleChanged);
    }

    static BatteryStateSnapshot initialBatteryState();
    void lightPoll();
    void fullPoll();
    void appendHistoryPoint(const PowerTelemetrySnapshot& power);
    void privilegeRecheck();
    void writeFan(const FanInfo& fan, float desired, FanMode mode, bool userInitiated);
    void dispatchHardwareWrite(std::int64_t fanId, float rpm, FanMode mode, float minRPM);
    void completeWrite(std::int64_t fanId, float rpm, FanMode mode, float minRPM,
                       const WriteResult& result);
    void setupTerminationObserver();
    void setBatteryLowPowerMode(bool enabled);
    void alignLinkedFans(const FanInfo& leader, float value);
    TimePoint now() const { return collaborators_.now(); }

    FanViewModelCollaborators collaborators_;
    DashboardSection selectedDashboardSection_{DashboardSection::cooling};
    bool isSimulatedMode_{false};
    int hardwareFanCount_{0};
    std::vector<FanInfo> fans_{};
    std::vector<ThermalSensor> sensors_{};
    double cpuTemperature_{45.0};
    double gpuTemperature_{42.0};
    double aneTemperature_{39.0};
    BatteryStateSnapshot batteryState_{initialBatteryState()};
    PowerTelemetrySnapshot powerTelemetry_{};
    BatteryHealthSnapshot batteryHealth_{};
    std::vector<AppEnergyEntry> topEnergyApps_{};
    std::vector<PowerHistoryPoint> powerHistory_{};
    ActivePresetSelection activeSelection_{
        ActivePresetSelection::builtin(BuiltinPresetType::automatic)};
    std::vector<CustomCurvePreset> customPresets_{};
    bool isSafetyTripped_{false};
    std::optional<std::string> safetyMessage_{};
    ManualRPMMap manualRPM_{};
    bool isLinkedManualControl_{true};
    MenuBarDisplaySettings menuBarSettings_{};
    PrivilegedWriteMode privilegeStatus_{PrivilegedWriteMode::unauthorized};
    bool isAuthorized_{false};
    bool isAuthorizing_{false};
    bool isTogglingLowPowerMode_{false};
    std::optional<std::string> lastErrorMessage_{};
    bool isPopoverVisible_{false};
    bool isPopoverShowingBatteryDetails_{false};
    bool isDashboardVisible_{false};
    QTimer* timer_ = nullptr;
    double scheduledInterval_ = 0;
    bool isTelemetryActive_ = false;
    bool isMonitoringPowerSources_ = false;
    TimePoint lastTickTime_;
    std::optional<TelemetrySnapshot> latestSnapshot_;
    std::optional<bool> latestSnapshotIsSimulated_;
    bool sudoFallbackConfirmedUnavailable_ = false;
    std::map<std::int64_t, WrittenFanState> lastWrittenState_;
    std::set<std::int64_t> inFlightFanWrites_;
    std::map<std::int64_t, PendingFanWrite> pendingFanWrites_;
    bool hasHandledTermination_ = false;
    QMetaObject::Connection terminationObserver_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace ventoral
