#pragma once

#include "core/common/Json.h"
#include "core/common/Uuid.h"
#include "core/telemetry/TelemetrySnapshot.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventoral {

enum class BuiltinPresetType { automatic, silent, balanced, turbo, max };

inline constexpr std::array<BuiltinPresetType, 5> allBuiltinPresetTypes{
    BuiltinPresetType::automatic, BuiltinPresetType::silent, BuiltinPresetType::balanced,
    BuiltinPresetType::turbo, BuiltinPresetType::max};

// The raw value is also the title and the stored form.
std::string_view rawValue(BuiltinPresetType type);
std::string_view subtitle(BuiltinPresetType type);
std::string_view iconName(BuiltinPresetType type);
std::optional<BuiltinPresetType> builtinPresetTypeFromRaw(std::string_view raw);

// Which temperature drives a custom curve.
enum class TargetSensorBinding { cpuAverage, gpuPeak, ane };

inline constexpr std::array<TargetSensorBinding, 3> allTargetSensorBindings{
    TargetSensorBinding::cpuAverage, TargetSensorBinding::gpuPeak, TargetSensorBinding::ane};

std::string_view rawValue(TargetSensorBinding binding);
std::string_view iconName(TargetSensorBinding binding);
std::optional<TargetSensorBinding> targetSensorBindingFromRaw(std::string_view raw);
double temperature(TargetSensorBinding binding, const TelemetrySnapshot& snapshot);

struct CurveControlPoint {
    Uuid id;
    double temperature;   // °C, within [20, 105]
    double rpmPercentage; // percent of the fan's range, within [0, 100]

    // Repairs the values: non-finite temperature → 45, non-finite percentage → 50, then clamps.
    CurveControlPoint(Uuid id, double temperature, double rpmPercentage);

    friend bool operator==(const CurveControlPoint&, const CurveControlPoint&) = default;
};

struct CustomCurvePreset {
    Uuid id;
    std::string name;
    TargetSensorBinding sensorBinding;
    std::vector<CurveControlPoint> controlPoints;
    bool isLinked;

    // Stores the points sorted by ascending temperature (stable).
    CustomCurvePreset(Uuid id, std::string name, TargetSensorBinding sensorBinding,
                      std::vector<CurveControlPoint> controlPoints, bool isLinked);

    // Percent of the speed range at `temperature`, always within [0, 100].
    double targetPercentage(double temperature) const;

    friend bool operator==(const CustomCurvePreset&, const CustomCurvePreset&) = default;
};

void sortByTemperature(std::vector<CurveControlPoint>& points);

class ActivePresetSelection {
public:
    enum class Kind { builtin, custom, manualFixed };

    static ActivePresetSelection builtin(BuiltinPresetType type) {
        return {Kind::builtin, type, {}};
    }
    static ActivePresetSelection custom(Uuid id) {
        return {Kind::custom, BuiltinPresetType::automatic, id};
    }
    static ActivePresetSelection manualFixed() {
        return {Kind::manualFixed, BuiltinPresetType::automatic, {}};
    }

    Kind kind() const { return kind_; }
    bool isAutomatic() const {
        return kind_ == Kind::builtin && builtin_ == BuiltinPresetType::automatic;
    }
    // Meaningful for `builtin` and `custom` respectively.
    BuiltinPresetType builtinType() const { return builtin_; }
    const Uuid& customId() const { return custom_; }

    std::string title() const;

    friend bool operator==(const ActivePresetSelection& a, const ActivePresetSelection& b);

private:
    ActivePresetSelection(Kind kind, BuiltinPresetType builtin, Uuid custom)
        : kind_(kind), builtin_(builtin), custom_(custom) {}

    Kind kind_;
    BuiltinPresetType builtin_;
    Uuid custom_;
};

namespace PresetText {
inline constexpr const char* customCurveTitle = "Custom Curve";
inline constexpr const char* manualTitle = "Manual RPM";
inline constexpr const char* invalidCaseKeys = "Invalid number of keys found, expected one.";
} // namespace PresetText

Json toJson(const CurveControlPoint& point);
Json toJson(const CustomCurvePreset& preset);
Json toJson(const ActivePresetSelection& selection);
CurveControlPoint curveControlPointFromJson(const Json& json);
// Keeps the stored order of the points.
CustomCurvePreset customCurvePresetFromJson(const Json& json);
std::vector<CustomCurvePreset> customCurvePresetsFromJson(const Json& json);
ActivePresetSelection activePresetSelectionFromJson(const Json& json);

} // namespace ventoral
