#include "core/presets/FanPresetManager.h"

#include "core/smc/SMCProtocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ventoral {
namespace {

// What stays the same in every document problem told to the user.
std::string loadProblem(const char* what, const std::string& reason,
                        const std::optional<std::string>& keptAs) {
    std::string text = std::string("Your saved ") + what + " could not be used (" + reason + ")";
    if (keptAs) {
        return text + ". The file was kept as " + *keptAs + "; the defaults are used instead.";
    }
    return text + " and could not be moved aside; it is left untouched.";
}

std::optional<std::int64_t> parseFanId(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-') {
            return std::nullopt;
        }
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

ManualRPMMap finiteOnly(const ManualRPMMap& rpm) {
    ManualRPMMap kept;
    for (const auto& [id, speed] : rpm) {
        if (std::isfinite(speed)) {
            kept.emplace(id, speed);
        }
    }
    return kept;
}

CustomCurvePreset seeded(const char* name, TargetSensorBinding binding,
                         std::initializer_list<std::pair<double, double>> points) {
    std::vector<CurveControlPoint> controlPoints;
    for (auto [temperature, percent] : points) {
        controlPoints.emplace_back(Uuid::random(), temperature, percent);
    }
    return CustomCurvePreset(Uuid::random(), name, binding, std::move(controlPoints), true);
}

// min + span × f, in 32-bit float.
float speedAt(const FanInfo& fan, double fraction) {
    float span = fan.maxRPM - fan.minRPM;
    return fan.minRPM + span * static_cast<float>(fraction);
}

} // namespace

std::vector<CustomCurvePreset> seededPresets() {
    return {
        seeded("Gaming Performance", TargetSensorBinding::gpuPeak,
               {{45, 25}, {65, 60}, {78, 85}, {88, 100}}),
        seeded("Studio Recording", TargetSensorBinding::cpuAverage,
               {{40, 0}, {65, 20}, {80, 50}, {92, 100}}),
    };
}

Json manualRPMToJson(const ManualRPMMap& rpm) {
    Json json = Json::object();
    for (const auto& [id, speed] : rpm) {
        json[std::to_string(id)] = json::encodeFloat(speed, "manual RPM");
    }
    return json;
}

ManualRPMMap manualRPMFromJson(const Json& json) {
    json::requireObject(json, "manual RPM");
    ManualRPMMap rpm;
    for (const auto& [key, value] : json.items()) {
        auto id = parseFanId(key);
        if (!id) {
            throw DecodingError("manual RPM: fan id \"" + key + "\" is not a decimal integer");
        }
        const float speed = json::decodeFloat(value, "manual RPM." + key);
        // The controller addresses sixteen fans; entries for others are never used.
        if (isFanIndex(*id)) {
            rpm[*id] = speed;
        }
    }
    return rpm;
}

TargetEvaluation evaluateTarget(const FanInfo& fan, const TelemetrySnapshot& snapshot,
                                std::optional<float> fixedManualTarget,
                                const ActivePresetSelection& selection,
                                const std::vector<CustomCurvePreset>& presets,
                                const ManualRPMMap& savedManualRPM) {
    const float min = fan.minRPM;
    const float max = fan.maxRPM;
    const TargetEvaluation handBack{min, FanMode::automatic};

    switch (selection.kind()) {
    case ActivePresetSelection::Kind::builtin: {
        const double t = snapshot.cpuTemperature();
        switch (selection.builtinType()) {
        case BuiltinPresetType::automatic:
            return handBack;
        case BuiltinPresetType::silent:
            if (!(t >= 85)) {
                return {std::min(min + 300, max), FanMode::manual};
            }
            return {speedAt(fan, std::min((t - 85) / 15, 1.0)), FanMode::manual};
        case BuiltinPresetType::balanced:
            if (t <= 45) {
                return {min, FanMode::manual};
            }
            return {speedAt(fan, t < 80 ? (t - 45) / 35 * 0.8 : 0.8), FanMode::manual};
        case BuiltinPresetType::turbo:
            if (t <= 40) {
                return {speedAt(fan, 0.3), FanMode::manual};
            }
            if (t < 65) {
                return {speedAt(fan, (t - 40) / 25 * 0.55 + 0.3), FanMode::manual};
            }
            // A temperature that is not a number counts as hot.
            return {speedAt(fan, (t < 85 ? (t - 65) / 20 : 1.0) * 0.15 + 0.85), FanMode::manual};
        case BuiltinPresetType::max:
            return {max, FanMode::manual};
        }
        return handBack;
    }
    case ActivePresetSelection::Kind::custom: {
        auto it = std::find_if(presets.begin(), presets.end(),
                               [&](const auto& p) { return p.id == selection.customId(); });
        if (it == presets.end()) {
            return handBack;
        }
        double percent = it->targetPercentage(temperature(it->sensorBinding, snapshot));
        return {speedAt(fan, percent / 100), FanMode::manual};
    }
    case ActivePresetSelection::Kind::manualFixed:
        break;
    }

    std::optional<float> wanted = fixedManualTarget;
    if (!wanted) {
        if (auto it = savedManualRPM.find(fan.id); it != savedManualRPM.end()) {
            wanted = it->second;
        }
    }
    if (wanted && std::isfinite(*wanted)) {
        return {clampSpeed(*wanted, min, max), FanMode::manual};
    }
    // A fan whose own target is unreadable is held at its minimum rather than sent NaN.
    float current = std::isfinite(fan.targetRPM) ? fan.targetRPM : min;
    return {clampSpeed(current, min, max), FanMode::manual};
}

FanPresetManager::FanPresetManager(std::shared_ptr<DefaultsStore> userDefaults)
    : userDefaults_(std::move(userDefaults)) {
    loadPresets();
}

std::vector<CustomCurvePreset> FanPresetManager::customPresets() const {
    std::lock_guard guard(lock_);
    return customPresets_;
}

ActivePresetSelection FanPresetManager::activeSelection() const {
    std::lock_guard guard(lock_);
    return activeSelection_;
}

ManualRPMMap FanPresetManager::savedManualRPM() const {
    std::lock_guard guard(lock_);
    return savedManualRPM_;
}

MenuBarDisplaySettings FanPresetManager::menuBarSettings() const {
    std::lock_guard guard(lock_);
    return menuBarSettings_;
}

template <typename Decode>
auto FanPresetManager::loadDocument(const char* key, const char* what, Decode decode,
                                    bool& keptInPlace)
    -> std::optional<decltype(decode(std::declval<const Json&>()))> {
    keptInPlace = false;
    StoredValue stored = userDefaults_->read(key);
    if (stored.state == StoredValue::State::absent) {
        return std::nullopt;
    }
    std::string reason = stored.reason;
    if (stored.state == StoredValue::State::present) {
        try {
            return decode(json::parse(stored.bytes));
        } catch (const DecodingError& error) {
            reason = error.what();
        } catch (const Json::exception& error) {
            reason = error.what();
        }
    }
    auto keptAs = userDefaults_->setAside(key);
    keptInPlace = !keptAs;
    loadProblems_.push_back(loadProblem(what, reason, keptAs));
    return std::nullopt;
}

void FanPresetManager::loadPresets() {
    std::lock_guard guard(lock_);
    bool keptInPlace = false;

    if (auto presets = loadDocument(userDefaultsKey, "custom presets", customCurvePresetsFromJson,
                                    keptInPlace)) {
        customPresets_ = std::move(*presets);
    } else {
        customPresets_ = seededPresets();
        if (!keptInPlace) {
            saveCustomPresetsInternal();
        }
    }

    auto rpm = loadDocument(manualRPMKey, "manual fan speeds", manualRPMFromJson, keptInPlace);
    savedManualRPM_ = rpm ? finiteOnly(*rpm) : ManualRPMMap{};

    auto settings = loadDocument(menuBarDisplayKey, "menu bar settings",
                                 menuBarDisplaySettingsFromJson, keptInPlace);
    menuBarSettings_ = settings ? settings->sanitized() : MenuBarDisplaySettings{};

    auto selection = loadDocument(activePresetKey, "preset selection",
                                  activePresetSelectionFromJson, keptInPlace);
    activeSelection_ = ActivePresetSelection::builtin(BuiltinPresetType::automatic);
    if (selection) {
        bool known = selection->kind() != ActivePresetSelection::Kind::custom ||
                     std::any_of(customPresets_.begin(), customPresets_.end(),
                                 [&](const auto& p) { return p.id == selection->customId(); });
        if (known) {
            activeSelection_ = *selection;
        }
    }
}

std::vector<std::string> FanPresetManager::takeLoadProblems() {
    std::lock_guard guard(lock_);
    return std::exchange(loadProblems_, {});
}

void FanPresetManager::savePreset(CustomCurvePreset preset) {
    std::lock_guard guard(lock_);
    sortByTemperature(preset.controlPoints);
    auto it = std::find_if(customPresets_.begin(), customPresets_.end(),
                           [&](const auto& p) { return p.id == preset.id; });
    if (it != customPresets_.end()) {
        *it = std::move(preset);
    } else {
        customPresets_.push_back(std::move(preset));
    }
    saveCustomPresetsInternal();
}

void FanPresetManager::deletePreset(const Uuid& id) {
    std::lock_guard guard(lock_);
    std::erase_if(customPresets_, [&](const auto& p) { return p.id == id; });
    saveCustomPresetsInternal();
    if (activeSelection_ == ActivePresetSelection::custom(id)) {
        activeSelection_ = ActivePresetSelection::builtin(BuiltinPresetType::automatic);
        saveActiveSelectionInternal();
    }
}

void FanPresetManager::setActiveSelection(const ActivePresetSelection& selection) {
    std::lock_guard guard(lock_);
    if (selection == activeSelection_) {
        return;
    }
    activeSelection_ = selection;
    saveActiveSelectionInternal();
}

void FanPresetManager::saveManualRPM(const ManualRPMMap& rpm) {
    std::lock_guard guard(lock_);
    auto kept = finiteOnly(rpm);
    if (kept == savedManualRPM_) {
        return;
    }
    savedManualRPM_ = std::move(kept);
    writeDocument(manualRPMKey, [this] { return manualRPMToJson(savedManualRPM_); });
}

void FanPresetManager::saveMenuBarSettings(const MenuBarDisplaySettings& settings) {
    std::lock_guard guard(lock_);
    auto visible = settings.sanitized();
    if (visible == menuBarSettings_) {
        return;
    }
    menuBarSettings_ = visible;
    writeDocument(menuBarDisplayKey, [this] { return toJson(menuBarSettings_); });
}

TargetEvaluation
FanPresetManager::evaluateTargetRPM(const FanInfo& fan, const TelemetrySnapshot& snapshot,
                                    std::optional<float> fixedManualTarget,
                                    std::optional<ActivePresetSelection> selection) const {
    std::vector<CustomCurvePreset> presets;
    ManualRPMMap manual;
    {
        std::lock_guard guard(lock_);
        if (!selection) {
            selection = activeSelection_;
        }
        presets = customPresets_;
        manual = savedManualRPM_;
    }
    return evaluateTarget(fan, snapshot, fixedManualTarget, *selection, presets, manual);
}

void FanPresetManager::saveCustomPresetsInternal() {
    writeDocument(userDefaultsKey, [this] {
        Json list = Json::array();
        for (const auto& preset : customPresets_) {
            list.push_back(toJson(preset));
        }
        return list;
    });
}

void FanPresetManager::saveActiveSelectionInternal() {
    writeDocument(activePresetKey, [this] { return toJson(activeSelection_); });
}

void FanPresetManager::writeDocument(const char* key, const std::function<Json()>& encode) {
    std::string bytes;
    try {
        bytes = encode().dump();
    } catch (const EncodingError&) {
        return; // a value the encoder refuses: the stored document stays as it was
    } catch (const Json::exception&) {
        return;
    }
    userDefaults_->setData(key, bytes);
}

} // namespace ventoral
