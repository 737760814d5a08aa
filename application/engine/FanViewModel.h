#pragma once

#include "application/menubar/TrioIconRenderKey.h"
#include "application/privileged/FanWriter.h"
#include "core/common/MainThread.h"
#include "core/engine/FanWritePipeline.h"
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
    // Told the fans left to another program, each with why, whenever that list changes.
    std::function<void(const std::vector<std::string>&)> contestedFansChanged = nullptr;
};

// This machine's collaborators around the given services: the Low Power Mode flag and its
// events, the tray's appearance, the note of contested fans. `FanViewModel::shared()` uses them.
class WatchedLowPowerMode;
FanViewModelCollaborators linuxEngineCollaborators(SMCService& smc, FanSimulationService& sim,
                                                   PowerBatteryService& power,
                                                   FanPresetManager& presets, FanWriter& writer,
                                                   std::shared_ptr<WatchedLowPowerMode> lowPower);

namespace EngineText {
inline constexpr const char* authorizationRequired =
    "Fan control requires administrator privileges. Click 'Authorize Fan Control' to enable.";
inline constexpr const char* safetyPrefix = "Thermal Watchdog: CPU hit ";
inline constexpr const char* safetySuffix = "\u00B0C! Restoring Auto cooling.";
inline std::string anotherController(const std::string& fan) {
    return "Another program is also controlling " + fan +
           ": it changed the fan twice after Ventoral set it. Ventoral has stopped writing it; "
           "choose a preset to take it back.";
}
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
    Q_PROPERTY(
        std::vector<ventoral::FanLimitsInfo> fanLimits READ fanLimits NOTIFY fanLimitsChanged)
    Q_PROPERTY(
        ventoral::FanCalibrationStatus calibration READ calibration NOTIFY calibrationChanged)

public:
    FanViewModel(FanViewModelCollaborators collaborators, bool autoStartTelemetry,
                 QObject* parent = nullptr);
    ~FanViewModel() override;
    static FanViewModel& shared();

    const ventoral::DashboardSection& selectedDashboardSection() const {
        return selectedDashboardSection_.value;
    }
    const bool& isSimulatedMode() const { return isSimulatedMode_.value; }
    const int& hardwareFanCount() const { return hardwareFanCount_.value; }
    const std::vector<ventoral::FanInfo>& fans() const { return fans_.value; }
    const std::vector<ventoral::ThermalSensor>& sensors() const { return sensors_.value; }
    const double& cpuTemperature() const { return cpuTemperature_.value; }
    const double& gpuTemperature() const { return gpuTemperature_.value; }
    const double& aneTemperature() const { return aneTemperature_.value; }
    const ventoral::BatteryStateSnapshot& batteryState() const { return batteryState_.value; }
    const ventoral::PowerTelemetrySnapshot& powerTelemetry() const { return powerTelemetry_.value; }
    const ventoral::BatteryHealthSnapshot& batteryHealth() const { return batteryHealth_.value; }
    const std::vector<ventoral::AppEnergyEntry>& topEnergyApps() const {
        return topEnergyApps_.value;
    }
    const std::vector<ventoral::PowerHistoryPoint>& powerHistory() const {
        return powerHistory_.value;
    }
    const ventoral::ActivePresetSelection& activeSelection() const {
        return activeSelection_.value;
    }
    const std::vector<ventoral::CustomCurvePreset>& customPresets() const {
        return customPresets_.value;
    }
    const bool& isSafetyTripped() const { return isSafetyTripped_.value; }
    const std::optional<std::string>& safetyMessage() const { return safetyMessage_.value; }
    const ventoral::ManualRPMMap& manualRPM() const { return manualRPM_.value; }
    const bool& isLinkedManualControl() const { return isLinkedManualControl_.value; }
    const ventoral::MenuBarDisplaySettings& menuBarSettings() const {
        return menuBarSettings_.value;
    }
    const ventoral::PrivilegedWriteMode& privilegeStatus() const { return privilegeStatus_.value; }
    const bool& isAuthorized() const { return isAuthorized_.value; }
    const bool& isAuthorizing() const { return isAuthorizing_.value; }
    const bool& isTogglingLowPowerMode() const { return isTogglingLowPowerMode_.value; }
    const std::optional<std::string>& lastErrorMessage() const { return lastErrorMessage_.value; }
    const bool& isPopoverVisible() const { return isPopoverVisible_.value; }
    const bool& isPopoverShowingBatteryDetails() const {
        return isPopoverShowingBatteryDetails_.value;
    }
    const bool& isDashboardVisible() const { return isDashboardVisible_.value; }
    const std::vector<ventoral::FanLimitsInfo>& fanLimits() const { return fanLimits_.value; }
    const ventoral::FanCalibrationStatus& calibration() const { return calibration_.value; }
    double scheduledInterval() const { return scheduledInterval_; }
    bool isTelemetryActive() const { return isTelemetryActive_; }
    const std::optional<TelemetrySnapshot>& latestSnapshot() const { return latestSnapshot_; }
    QTimer* timer() const { return timer_; }
    // The slack the timer may take: a quarter of its period, at most 2 s.
    double timerTolerance() const;

    const std::map<std::int64_t, WrittenFanState>& lastWrittenState() const {
        return pipeline_.lastWrittenState();
    }
    const std::set<std::int64_t>& inFlightFanWrites() const {
        return pipeline_.inFlightFanWrites();
    }
    const std::map<std::int64_t, PendingFanWrite>& pendingFanWrites() const {
        return pipeline_.pendingFanWrites();
    }
    bool sudoFallbackConfirmedUnavailable() const { return sudoFallbackConfirmedUnavailable_; }
    bool hasHandledTermination() const { return hasHandledTermination_; }

    // The write pipeline.
    void handleWriteError(const SMCError& error);

    // Measures a fan's limits through the privileged route; `calibration` follows it.
    void calibrateFan(std::int64_t index);

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
    bool isAnyUIVisible() const { return isPopoverVisible_.value || isDashboardVisible_.value; }
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
    void updateMenuBarSettings(MenuBarDisplaySettings requested);

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
    void fanLimitsChanged();
    void calibrationChanged();

private:
    // A published field: its value and the signal that announces a change of it.
    template <typename T> struct Published {
        T value;
        void (FanViewModel::*changed)();
    };
    template <typename T, typename V> void publish(Published<T>& field, V&& value) {
        if (!(field.value == value)) {
            field.value = std::forward<V>(value);
            emit(this->*field.changed)();
        }
    }
    // Calls `job` with the engine later on the main thread, unless the engine is gone by then;
    // for completions that may arrive on any thread.
    template <typename Job> auto onMainThread(Job job) {
        return [self = QPointer<FanViewModel>(this), alive = std::weak_ptr<bool>(alive_),
                job = std::move(job)](auto... arguments) {
            postToMainThread([self, alive, job, arguments...] {
                if (!alive.expired() && self) {
                    job(*self, arguments...);
                }
            });
        };
    }

    static BatteryStateSnapshot initialBatteryState();
    void lightPoll();
    void fullPoll();
    void appendHistoryPoint(const PowerTelemetrySnapshot& power);
    void privilegeRecheck();
    // The writer's privilege status, published with the authorization that follows from it.
    void publishPrivilegeStatus();
    void writeFan(const FanInfo& fan, float desired, FanMode mode, bool userInitiated);
    void dispatchHardwareWrite(const FanWriteRequest& write);
    void completeWrite(const FanWriteRequest& write, const WriteResult& result);
    void releaseContestedFans();
    void setupTerminationObserver();
    void setBatteryLowPowerMode(bool enabled);
    void alignLinkedFans(const FanInfo& leader, float value);
    TimePoint now() const { return collaborators_.now(); }

    FanViewModelCollaborators collaborators_;
    Published<DashboardSection> selectedDashboardSection_{
        DashboardSection::cooling, &FanViewModel::selectedDashboardSectionChanged};
    Published<bool> isSimulatedMode_{false, &FanViewModel::isSimulatedModeChanged};
    Published<int> hardwareFanCount_{0, &FanViewModel::hardwareFanCountChanged};
    Published<std::vector<FanInfo>> fans_{{}, &FanViewModel::fansChanged};
    Published<std::vector<ThermalSensor>> sensors_{{}, &FanViewModel::sensorsChanged};
    Published<double> cpuTemperature_{45.0, &FanViewModel::cpuTemperatureChanged};
    Published<double> gpuTemperature_{42.0, &FanViewModel::gpuTemperatureChanged};
    Published<double> aneTemperature_{39.0, &FanViewModel::aneTemperatureChanged};
    Published<BatteryStateSnapshot> batteryState_{initialBatteryState(),
                                                  &FanViewModel::batteryStateChanged};
    Published<PowerTelemetrySnapshot> powerTelemetry_{{}, &FanViewModel::powerTelemetryChanged};
    Published<BatteryHealthSnapshot> batteryHealth_{{}, &FanViewModel::batteryHealthChanged};
    Published<std::vector<AppEnergyEntry>> topEnergyApps_{{}, &FanViewModel::topEnergyAppsChanged};
    Published<std::vector<PowerHistoryPoint>> powerHistory_{{}, &FanViewModel::powerHistoryChanged};
    Published<ActivePresetSelection> activeSelection_{
        ActivePresetSelection::builtin(BuiltinPresetType::automatic),
        &FanViewModel::activeSelectionChanged};
    Published<std::vector<CustomCurvePreset>> customPresets_{{},
                                                             &FanViewModel::customPresetsChanged};
    Published<bool> isSafetyTripped_{false, &FanViewModel::isSafetyTrippedChanged};
    Published<std::optional<std::string>> safetyMessage_{{}, &FanViewModel::safetyMessageChanged};
    Published<ManualRPMMap> manualRPM_{{}, &FanViewModel::manualRPMChanged};
    Published<bool> isLinkedManualControl_{true, &FanViewModel::isLinkedManualControlChanged};
    Published<MenuBarDisplaySettings> menuBarSettings_{{}, &FanViewModel::menuBarSettingsChanged};
    Published<PrivilegedWriteMode> privilegeStatus_{PrivilegedWriteMode::unauthorized,
                                                    &FanViewModel::privilegeStatusChanged};
    Published<bool> isAuthorized_{false, &FanViewModel::isAuthorizedChanged};
    Published<bool> isAuthorizing_{false, &FanViewModel::isAuthorizingChanged};
    Published<bool> isTogglingLowPowerMode_{false, &FanViewModel::isTogglingLowPowerModeChanged};
    Published<std::optional<std::string>> lastErrorMessage_{{},
                                                            &FanViewModel::lastErrorMessageChanged};
    Published<bool> isPopoverVisible_{false, &FanViewModel::isPopoverVisibleChanged};
    Published<bool> isPopoverShowingBatteryDetails_{
        false, &FanViewModel::isPopoverShowingBatteryDetailsChanged};
    Published<bool> isDashboardVisible_{false, &FanViewModel::isDashboardVisibleChanged};
    Published<std::vector<FanLimitsInfo>> fanLimits_{{}, &FanViewModel::fanLimitsChanged};
    Published<FanCalibrationStatus> calibration_{{}, &FanViewModel::calibrationChanged};
    QTimer* timer_ = nullptr;
    double scheduledInterval_ = 0;
    bool isTelemetryActive_ = false;
    bool isMonitoringPowerSources_ = false;
    TimePoint lastTickTime_;
    std::optional<TelemetrySnapshot> latestSnapshot_;
    std::optional<bool> latestSnapshotIsSimulated_;
    bool sudoFallbackConfirmedUnavailable_ = false;
    FanWritePipeline pipeline_;
    std::optional<std::string> contestMessage_; // why a fan is left to another program
    std::vector<std::string> contestedNotes_;
    bool hasHandledTermination_ = false;
    QMetaObject::Connection terminationObserver_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace ventoral
