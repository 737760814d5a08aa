#pragma once

#include "core/common/Json.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace ventoral {

enum class SensorCategory { cpu, gpu, ane, system, battery, storage };

inline constexpr std::array<SensorCategory, 6> allSensorCategories{
    SensorCategory::cpu,    SensorCategory::gpu,     SensorCategory::ane,
    SensorCategory::system, SensorCategory::battery, SensorCategory::storage};

// The raw value is also the display name.
std::string_view rawValue(SensorCategory category);
std::string_view iconName(SensorCategory category);
std::optional<SensorCategory> sensorCategoryFromRaw(std::string_view raw);

struct ThermalSensor {
    std::string id;
    std::string name;
    double temperature = 0;
    SensorCategory category = SensorCategory::cpu;

    friend bool operator==(const ThermalSensor&, const ThermalSensor&) = default;
};

Json toJson(const ThermalSensor& sensor);
ThermalSensor thermalSensorFromJson(const Json& json);

} // namespace ventoral
