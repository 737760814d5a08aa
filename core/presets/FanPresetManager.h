#pragma once

#include "core/common/DefaultsStore.h"
#include "core/menubar/MenuBarDisplaySettings.h"
#include "core/presets/PresetModel.h"
#include "core/telemetry/FanInfo.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace ventoral {

using ManualRPMMap = std::map<std::int64_t, float>;

struct TargetEvaluation {
    float targetRPM;
    FanMode mode; // automatic: hand the fan back; targetRPM then carries no command

    friend bool operator==(const TargetEvaluation&, const TargetEvaluation&) = default;
};

// Owns the custom curves, the active selection, the saved manual speeds and the menu-bar
// settings, and keeps each as a JSON document in the defaults database. One plain lock is held
// for the whole of every operation, store reads and writes included.
class FanPresetManager {
public:
    static constexpr const char* userDefaultsKey = "com.tesvane.customPresets.v1";
    static constexpr const char* activePresetKey = "com.tesvane.activePreset.v1";
    static constexpr const char* manualRPMKey = "com.tesvane.manualRPM.v1";
    static constexpr const char* menuBarDisplayKey = "com.tesvane.menuBarDisplay.v1";

    // Loads everything before returning.
    explicit FanPresetManager(std::shared_ptr<DefaultsStore> userDefaults);
    FanPresetManager(const FanPresetManager&) = delete;
    FanPresetManager& operator=(const FanPresetManager&) = delete;

    // The process-wide instance over the user's own defaults.
    static FanPresetManager& shared();

    std::vector<CustomCurvePreset> customPresets() const;
    ActivePresetSelection activeSelection() const;
    ManualRPMMap savedManualRPM() const;
    MenuBarDisplaySettings menuBarSettings() const;

    void loadPresets();
    // What the last loads found wrong with the stored documents (each kept aside, or left in
    // place when it could not be moved), in words for the user; each told once.
    std::vector<std::string> takeLoadProblems();
    void savePreset(CustomCurvePreset preset);
    void deletePreset(const Uuid& id);
    void setActiveSelection(const ActivePresetSelection& selection);
    void saveManualRPM(const ManualRPMMap& rpm);
    void saveMenuBarSettings(const MenuBarDisplaySettings& settings);

    TargetEvaluation
    evaluateTargetRPM(const FanInfo& fan, const TelemetrySnapshot& snapshot,
                      std::optional<float> fixedManualTarget = std::nullopt,
                      std::optional<ActivePresetSelection> selection = std::nullopt) const;

private:
    // The document under `key` decoded, or nothing. One that is there but cannot be used is set
    // aside, so that nothing written later replaces it; false in `keptInPlace` when that
    // failed and it must not be written over.
    template <typename Decode>
    auto loadDocument(const char* key, const char* what, Decode decode, bool& keptInPlace)
        -> std::optional<decltype(decode(std::declval<const Json&>()))>;
    void saveCustomPresetsInternal();
    void saveActiveSelectionInternal();
    void writeDocument(const char* key, const std::function<Json()>& encode);

    std::shared_ptr<DefaultsStore> userDefaults_;
    std::vector<CustomCurvePreset> customPresets_;
    ActivePresetSelection activeSelection_ =
        ActivePresetSelection::builtin(BuiltinPresetType::automatic);
    ManualRPMMap savedManualRPM_;
    MenuBarDisplaySettings menuBarSettings_;
    std::vector<std::string> loadProblems_;
    mutable std::mutex lock_;
};

// The two curves a first launch starts with, each with fresh identifiers.
std::vector<CustomCurvePreset> seededPresets();

// Pure target computation over copies of the store's state.
TargetEvaluation evaluateTarget(const FanInfo& fan, const TelemetrySnapshot& snapshot,
                                std::optional<float> fixedManualTarget,
                                const ActivePresetSelection& selection,
                                const std::vector<CustomCurvePreset>& presets,
                                const ManualRPMMap& savedManualRPM);

Json manualRPMToJson(const ManualRPMMap& rpm);
ManualRPMMap manualRPMFromJson(const Json& json);

} // namespace ventoral
