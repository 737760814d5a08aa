// Preset rules, the thermal watchdog, manual control and the stored presets and settings.
#include "application/engine/FanViewModel.h"
#include "core/common/Format.h"

#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

constexpr double tripCelsius = 95.0;
constexpr double rearmCelsius = 88.0;
constexpr double fansHighFraction = 0.85;

float clampToFan(float value, const FanInfo& fan) {
    return clampSpeed(value, fan.minRPM, fan.maxRPM);
}

} // namespace

void FanViewModel::evaluatePresetRules(bool userInitiated) {
    if (!latestSnapshot_ || latestSnapshotIsSimulated_ != isSimulatedMode_.value) {
        TelemetrySnapshot fresh;
        if (isSimulatedMode_.value) {
            fresh = collaborators_.sim.readSnapshot();
        } else {
            fresh.fans = collaborators_.smc.readFans();
            fresh.sensors = collaborators_.smc.readThermalSensors(false);
        }
        fresh.timestamp = now();
        latestSnapshot_ = fresh;
        latestSnapshotIsSimulated_ = isSimulatedMode_.value;
    }
    const TelemetrySnapshot snapshot = *latestSnapshot_;
    ManualRPMMap manual = manualRPM_.value;
    for (const FanInfo& f : fans_.value) {
        std::optional<float> fixed;
        if (auto found = manual.find(f.id); found != manual.end()) {
            fixed = found->second;
        }
        const TargetEvaluation target =
            collaborators_.presetManager.evaluateTargetRPM(f, snapshot, fixed);
        const float desired = clampToFan(target.targetRPM, f);
        if (activeSelection_.value.kind() != ActivePresetSelection::Kind::manualFixed) {
            manual[f.id] =
                clampToFan(target.mode == FanMode::automatic ? f.currentRPM : desired, f);
        }
        if (isSimulatedMode_.value) {
            collaborators_.sim.setFanMode(f.id, target.mode);
            if (target.mode == FanMode::manual) {
                collaborators_.sim.setTargetRPM(f.id, desired);
            }
            continue;
        }
        writeFan(f, desired, target.mode, userInitiated);
    }
    publish(manualRPM_, std::move(manual));
}

void FanViewModel::checkSafetyWatchdog() {
    if (cpuTemperature_.value >= tripCelsius) {
        const bool automatic = activeSelection_.value.isAutomatic();
        const bool maxHolds =
            activeSelection_.value == ActivePresetSelection::builtin(BuiltinPresetType::max) &&
            isAuthorized_.value;
        bool allHigh = !fans_.value.empty();
        for (const FanInfo& f : fans_.value) {
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
        publish(isSafetyTripped_, true);
        publish(safetyMessage_, EngineText::safetyPrefix + cformat("%.1f", cpuTemperature_.value) +
                                    EngineText::safetySuffix);
        selectPreset(ActivePresetSelection::builtin(BuiltinPresetType::automatic));
    } else if (cpuTemperature_.value < rearmCelsius && isSafetyTripped_.value) {
        publish(isSafetyTripped_, false);
        publish(safetyMessage_, std::nullopt);
    }
}

// Manual control and presets.

void FanViewModel::selectPreset(const ActivePresetSelection& selection) {
    releaseContestedFans();
    publish(activeSelection_, selection);
    collaborators_.presetManager.setActiveSelection(selection);
    if (!selection.isAutomatic() && !isSimulatedMode_.value && latestSnapshot_ &&
        latestSnapshot_->sensors.empty()) {
        TelemetrySnapshot fresh;
        fresh.fans = collaborators_.smc.readFans();
        fresh.sensors = collaborators_.smc.readThermalSensors(true);
        fresh.timestamp = now();
        latestSnapshot_ = fresh;
        publish(cpuTemperature_, fresh.cpuTemperature());
        publish(gpuTemperature_, fresh.gpuTemperature());
        publish(aneTemperature_, fresh.aneTemperature());
    }
    evaluatePresetRules(true);
    rescheduleTimerIfNeeded();
}

void FanViewModel::alignLinkedFans(const FanInfo& leader, float value) {
    const float range = leader.maxRPM - leader.minRPM;
    const float fraction = range > 0 ? (value - leader.minRPM) / range : 0;
    ManualRPMMap manual = manualRPM_.value;
    for (const FanInfo& g : fans_.value) {
        if (g.id == leader.id) {
            continue;
        }
        manual[g.id] = clampToFan(g.minRPM + fraction * std::max(g.maxRPM - g.minRPM, 0.0f), g);
    }
    publish(manualRPM_, std::move(manual));
}

void FanViewModel::setManualRPM(std::int64_t fanIndex, float rpm) {
    if (!std::isfinite(rpm)) {
        return;
    }
    auto fan = std::find_if(fans_.value.begin(), fans_.value.end(),
                            [&](const FanInfo& f) { return f.id == fanIndex; });
    if (fan != fans_.value.end()) {
        const float value = clampToFan(rpm, *fan);
        ManualRPMMap manual = manualRPM_.value;
        manual[fanIndex] = value;
        publish(manualRPM_, std::move(manual));
        if (isLinkedManualControl_.value) {
            alignLinkedFans(*fan, value);
        }
    } else {
        ManualRPMMap manual = manualRPM_.value;
        manual[fanIndex] = rpm;
        if (isLinkedManualControl_.value) {
            for (const FanInfo& g : fans_.value) {
                manual[g.id] = clampToFan(rpm, g);
            }
        }
        publish(manualRPM_, std::move(manual));
    }
    collaborators_.presetManager.saveManualRPM(manualRPM_.value);
    selectPreset(ActivePresetSelection::manualFixed());
}

double FanViewModel::sliderRPM(const FanInfo& f) const {
    const float base = activeSelection_.value.isAutomatic() ? f.currentRPM : f.targetRPM;
    auto found = manualRPM_.value.find(f.id);
    const float value = found != manualRPM_.value.end() ? found->second : std::max(f.minRPM, base);
    if (!std::isfinite(value)) {
        return f.minRPM;
    }
    const float upper = std::max(f.maxRPM, f.minRPM + 1);
    return std::max(f.minRPM, std::min(upper, value));
}

void FanViewModel::toggleLinkedManualControl() {
    publish(isLinkedManualControl_, !isLinkedManualControl_.value);
    if (!isLinkedManualControl_.value || fans_.value.empty()) {
        return;
    }
    const FanInfo leader = fans_.value.front();
    auto found = manualRPM_.value.find(leader.id);
    const float value =
        clampToFan(found != manualRPM_.value.end() ? found->second
                                                   : std::max(leader.currentRPM, leader.minRPM),
                   leader);
    ManualRPMMap manual = manualRPM_.value;
    manual[leader.id] = value;
    publish(manualRPM_, std::move(manual));
    alignLinkedFans(leader, value);
    if (activeSelection_.value.kind() == ActivePresetSelection::Kind::manualFixed) {
        collaborators_.presetManager.saveManualRPM(manualRPM_.value);
        evaluatePresetRules(true);
    }
}

void FanViewModel::syncManualRPM(const TelemetrySnapshot& snapshot) {
    ManualRPMMap manual = manualRPM_.value;
    for (const FanInfo& f : snapshot.fans) {
        if (activeSelection_.value.kind() == ActivePresetSelection::Kind::manualFixed) {
            auto found = manual.find(f.id);
            manual[f.id] = found != manual.end() && std::isfinite(found->second)
                               ? clampToFan(found->second, f)
                               : clampToFan(f.currentRPM, f);
        } else {
            auto target = collaborators_.presetManager.evaluateTargetRPM(f, snapshot, std::nullopt,
                                                                         activeSelection_.value);
            manual[f.id] =
                clampToFan(target.mode == FanMode::manual ? target.targetRPM : f.currentRPM, f);
        }
    }
    publish(manualRPM_, std::move(manual));
}

void FanViewModel::saveCustomPreset(const CustomCurvePreset& preset) {
    collaborators_.presetManager.savePreset(preset);
    publish(customPresets_, collaborators_.presetManager.customPresets());
    if (activeSelection_.value == ActivePresetSelection::custom(preset.id)) {
        evaluatePresetRules(true);
    }
}

void FanViewModel::deleteCustomPreset(const Uuid& id) {
    const bool wasActive = activeSelection_.value == ActivePresetSelection::custom(id);
    collaborators_.presetManager.deletePreset(id);
    publish(customPresets_, collaborators_.presetManager.customPresets());
    publish(activeSelection_, collaborators_.presetManager.activeSelection());
    if (wasActive) {
        evaluatePresetRules(true);
    }
}

void FanViewModel::loadPresets() {
    auto& store = collaborators_.presetManager;
    store.loadPresets();
    if (const auto problems = store.takeLoadProblems(); !problems.empty()) {
        std::string message;
        for (const std::string& problem : problems) {
            message += (message.empty() ? "" : " ") + problem;
        }
        publish(lastErrorMessage_, std::move(message));
    }
    publish(customPresets_, store.customPresets());
    publish(activeSelection_, store.activeSelection());
    publish(menuBarSettings_, store.menuBarSettings());
    ManualRPMMap manual = manualRPM_.value;
    for (const auto& [id, rpm] : store.savedManualRPM()) {
        if (std::isfinite(rpm)) {
            manual[id] = rpm;
        }
    }
    publish(manualRPM_, std::move(manual));
}

void FanViewModel::updateMenuBarSettings(MenuBarDisplaySettings requested) {
    const MenuBarDisplaySettings settings = requested.sanitized();
    publish(menuBarSettings_, settings);
    collaborators_.presetManager.saveMenuBarSettings(settings);
    if (isTelemetryActive_) {
        if (settings.showPowerWatts || settings.showCPUTemp || settings.showGPUTemp ||
            settings.trioCenterSlot == TrioCenterSlot::powerWatts) {
            pollTelemetry(false);
        }
        rescheduleTimerIfNeeded();
    }
}

} // namespace ventoral
