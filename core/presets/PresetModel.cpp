#include "core/presets/PresetModel.h"

#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

struct BuiltinRow {
    BuiltinPresetType type;
    const char* raw;
    const char* subtitle;
    const char* icon;
};

constexpr BuiltinRow builtinRows[] = {
    {BuiltinPresetType::automatic, "Auto (System)", "Apple Native SMC Thermal Control",
     "apple.logo"},
    {BuiltinPresetType::silent, "Silent", "Quiet fan profile up to 85\u00B0C", "leaf.fill"},
    {BuiltinPresetType::balanced, "Balanced", "Linear ramp 45\u00B0C\u201380\u00B0C",
     "gauge.with.dots.needle.50percent"},
    {BuiltinPresetType::turbo, "Turbo", "Aggressive cooling ramp to 85% at 65\u00B0C", "bolt.fill"},
    {BuiltinPresetType::max, "Max (Full Blast)", "100% Duty cycle (Hardware Max)", "wind"},
};

const BuiltinRow& row(BuiltinPresetType type) {
    return builtinRows[static_cast<std::size_t>(type)];
}

struct BindingRow {
    TargetSensorBinding binding;
    const char* raw;
    const char* icon;
};

constexpr BindingRow bindingRows[] = {
    {TargetSensorBinding::cpuAverage, "CPU Average", "cpu"},
    {TargetSensorBinding::gpuPeak, "GPU Peak", "display"},
    {TargetSensorBinding::ane, "Neural Engine (ANE)", "brain"},
};

const BindingRow& row(TargetSensorBinding binding) {
    return bindingRows[static_cast<std::size_t>(binding)];
}

double repaired(double value, double fallback, double low, double high) {
    double v = std::isfinite(value) ? value : fallback;
    if (v > high) {
        v = high;
    }
    return v < low ? low : v;
}

Uuid decodeUuid(const Json& value, std::string_view context) {
    auto text = json::decodeString(value, context);
    auto id = Uuid::parse(text);
    if (!id) {
        throw DecodingError(std::string(context) + ": invalid UUID \"" + text + "\"");
    }
    return *id;
}

constexpr std::pair<ActivePresetSelection::Kind, const char*> selectionKeys[] = {
    {ActivePresetSelection::Kind::builtin, "builtin"},
    {ActivePresetSelection::Kind::custom, "custom"},
    {ActivePresetSelection::Kind::manualFixed, "manualFixed"},
};

} // namespace

std::string_view rawValue(BuiltinPresetType type) {
    return row(type).raw;
}
std::string_view subtitle(BuiltinPresetType type) {
    return row(type).subtitle;
}
std::string_view iconName(BuiltinPresetType type) {
    return row(type).icon;
}

std::optional<BuiltinPresetType> builtinPresetTypeFromRaw(std::string_view raw) {
    for (const auto& r : builtinRows) {
        if (raw == r.raw) {
            return r.type;
        }
    }
    return std::nullopt;
}

std::string_view rawValue(TargetSensorBinding binding) {
    return row(binding).raw;
}
std::string_view iconName(TargetSensorBinding binding) {
    return row(binding).icon;
}

std::optional<TargetSensorBinding> targetSensorBindingFromRaw(std::string_view raw) {
    for (const auto& r : bindingRows) {
        if (raw == r.raw) {
            return r.binding;
        }
    }
    return std::nullopt;
}

double temperature(TargetSensorBinding binding, const TelemetrySnapshot& snapshot) {
    switch (binding) {
    case TargetSensorBinding::cpuAverage:
        return snapshot.cpuTemperature();
    case TargetSensorBinding::gpuPeak:
        return snapshot.gpuTemperature();
    case TargetSensorBinding::ane:
        return snapshot.aneTemperature();
    }
    return snapshot.cpuTemperature();
}

CurveControlPoint::CurveControlPoint(Uuid pointId, double celsius, double percent)
    : id(pointId), temperature(repaired(celsius, 45.0, 20.0, 105.0)),
      rpmPercentage(repaired(percent, 50.0, 0.0, 100.0)) {}

void sortByTemperature(std::vector<CurveControlPoint>& points) {
    std::stable_sort(points.begin(), points.end(),
                     [](const auto& a, const auto& b) { return a.temperature < b.temperature; });
}

CustomCurvePreset::CustomCurvePreset(Uuid presetId, std::string presetName,
                                     TargetSensorBinding binding,
                                     std::vector<CurveControlPoint> points, bool linked)
    : id(presetId), name(std::move(presetName)), sensorBinding(binding),
      controlPoints(std::move(points)), isLinked(linked) {
    sortByTemperature(controlPoints);
}

double CustomCurvePreset::targetPercentage(double t) const {
    if (controlPoints.empty() || !std::isfinite(t)) {
        return 0;
    }
    auto points = controlPoints;
    sortByTemperature(points);
    double result = points.back().rpmPercentage;
    if (t <= points.front().temperature) {
        result = points.front().rpmPercentage;
    } else if (t < points.back().temperature) {
        for (std::size_t i = 0; i + 1 < points.size(); ++i) {
            const auto& a = points[i];
            const auto& b = points[i + 1];
            if (a.temperature <= t && t <= b.temperature) {
                double gap = b.temperature - a.temperature;
                result = gap > 0.001 ? a.rpmPercentage + (t - a.temperature) / gap *
                                                             (b.rpmPercentage - a.rpmPercentage)
                                     : a.rpmPercentage;
                break;
            }
        }
    }
    if (result > 100) {
        result = 100;
    }
    return result < 0 ? 0 : result;
}

std::string ActivePresetSelection::title() const {
    switch (kind_) {
    case Kind::builtin:
        return std::string(rawValue(builtin_));
    case Kind::custom:
        return PresetText::customCurveTitle;
    case Kind::manualFixed:
        return PresetText::manualTitle;
    }
    return {};
}

bool operator==(const ActivePresetSelection& a, const ActivePresetSelection& b) {
    if (a.kind_ != b.kind_) {
        return false;
    }
    switch (a.kind_) {
    case ActivePresetSelection::Kind::builtin:
        return a.builtin_ == b.builtin_;
    case ActivePresetSelection::Kind::custom:
        return a.custom_ == b.custom_;
    case ActivePresetSelection::Kind::manualFixed:
        return true;
    }
    return false;
}

Json toJson(const CurveControlPoint& point) {
    Json json = Json::object();
    json["id"] = point.id.string();
    json["temperature"] = json::encodeDouble(point.temperature, "CurveControlPoint.temperature");
    json["rpmPercentage"] =
        json::encodeDouble(point.rpmPercentage, "CurveControlPoint.rpmPercentage");
    return json;
}

Json toJson(const CustomCurvePreset& preset) {
    Json points = Json::array();
    for (const auto& point : preset.controlPoints) {
        points.push_back(toJson(point));
    }
    Json json = Json::object();
    json["id"] = preset.id.string();
    json["name"] = preset.name;
    json["sensorBinding"] = std::string(rawValue(preset.sensorBinding));
    json["controlPoints"] = std::move(points);
    json["isLinked"] = preset.isLinked;
    return json;
}

Json toJson(const ActivePresetSelection& selection) {
    Json payload = Json::object();
    const char* key = "manualFixed";
    if (selection.kind() == ActivePresetSelection::Kind::builtin) {
        key = "builtin";
        payload["_0"] = std::string(rawValue(selection.builtinType()));
    } else if (selection.kind() == ActivePresetSelection::Kind::custom) {
        key = "custom";
        payload["_0"] = selection.customId().string();
    }
    Json json = Json::object();
    json[key] = std::move(payload);
    return json;
}

CurveControlPoint curveControlPointFromJson(const Json& json) {
    constexpr std::string_view ctx = "CurveControlPoint";
    return CurveControlPoint(
        decodeUuid(json::requireMember(json, "id", ctx), "CurveControlPoint.id"),
        json::decodeDouble(json::requireMember(json, "temperature", ctx),
                           "CurveControlPoint.temperature"),
        json::decodeDouble(json::requireMember(json, "rpmPercentage", ctx),
                           "CurveControlPoint.rpmPercentage"));
}

CustomCurvePreset customCurvePresetFromJson(const Json& json) {
    constexpr std::string_view ctx = "CustomCurvePreset";
    auto id = decodeUuid(json::requireMember(json, "id", ctx), "CustomCurvePreset.id");
    auto name =
        json::decodeString(json::requireMember(json, "name", ctx), "CustomCurvePreset.name");
    auto bindingText = json::decodeString(json::requireMember(json, "sensorBinding", ctx),
                                          "CustomCurvePreset.sensorBinding");
    auto binding = targetSensorBindingFromRaw(bindingText);
    if (!binding) {
        throw DecodingError("CustomCurvePreset.sensorBinding: unknown sensor binding \"" +
                            bindingText + "\"");
    }
    const Json& pointsJson = json::requireMember(json, "controlPoints", ctx);
    if (!pointsJson.is_array()) {
        throw DecodingError("CustomCurvePreset.controlPoints: expected an array");
    }
    std::vector<CurveControlPoint> points;
    points.reserve(pointsJson.size());
    for (const auto& point : pointsJson) {
        points.push_back(curveControlPointFromJson(point));
    }
    bool linked =
        json::decodeBool(json::requireMember(json, "isLinked", ctx), "CustomCurvePreset.isLinked");
    CustomCurvePreset preset(id, std::move(name), *binding, {}, linked);
    preset.controlPoints = std::move(points);
    return preset;
}

std::vector<CustomCurvePreset> customCurvePresetsFromJson(const Json& json) {
    if (!json.is_array()) {
        throw DecodingError("custom presets: expected an array");
    }
    std::vector<CustomCurvePreset> presets;
    presets.reserve(json.size());
    for (const auto& preset : json) {
        presets.push_back(customCurvePresetFromJson(preset));
    }
    return presets;
}

ActivePresetSelection activePresetSelectionFromJson(const Json& json) {
    constexpr std::string_view ctx = "ActivePresetSelection";
    json::requireObject(json, ctx);
    const Json* payload = nullptr;
    auto kind = ActivePresetSelection::Kind::manualFixed;
    int found = 0;
    for (const auto& [k, key] : selectionKeys) {
        if (auto it = json.find(key); it != json.end()) {
            payload = &*it;
            kind = k;
            ++found;
        }
    }
    if (found != 1) {
        throw DecodingError(PresetText::invalidCaseKeys);
    }
    json::requireObject(*payload, ctx);
    switch (kind) {
    case ActivePresetSelection::Kind::builtin: {
        auto raw = json::decodeString(json::requireMember(*payload, "_0", ctx),
                                      "ActivePresetSelection.builtin._0");
        auto type = builtinPresetTypeFromRaw(raw);
        if (!type) {
            throw DecodingError("ActivePresetSelection.builtin._0: unknown preset \"" + raw + "\"");
        }
        return ActivePresetSelection::builtin(*type);
    }
    case ActivePresetSelection::Kind::custom:
        return ActivePresetSelection::custom(decodeUuid(json::requireMember(*payload, "_0", ctx),
                                                        "ActivePresetSelection.custom._0"));
    case ActivePresetSelection::Kind::manualFixed:
        break;
    }
    return ActivePresetSelection::manualFixed();
}

} // namespace ventoral
