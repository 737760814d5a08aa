#include "core/telemetry/ThermalSensor.h"

namespace ventoral {

std::string_view rawValue(SensorCategory category) {
    switch (category) {
    case SensorCategory::cpu:
        return "CPU";
    case SensorCategory::gpu:
        return "GPU";
    case SensorCategory::ane:
        return "Neural Engine";
    case SensorCategory::system:
        return "System / Ambient";
    case SensorCategory::battery:
        return "Battery";
    case SensorCategory::storage:
        return "Storage";
    }
    return {};
}

std::string_view iconName(SensorCategory category) {
    switch (category) {
    case SensorCategory::cpu:
        return "cpu";
    case SensorCategory::gpu:
        return "display";
    case SensorCategory::ane:
        return "brain";
    case SensorCategory::system:
        return "macbook.gen2";
    case SensorCategory::battery:
        return "battery.100";
    case SensorCategory::storage:
        return "internaldrive";
    }
    return {};
}

std::optional<SensorCategory> sensorCategoryFromRaw(std::string_view raw) {
    for (auto category : allSensorCategories) {
        if (rawValue(category) == raw) {
            return category;
        }
    }
    return std::nullopt;
}

Json toJson(const ThermalSensor& sensor) {
    Json json = Json::object();
    json["id"] = sensor.id;
    json["name"] = sensor.name;
    json["temperature"] = json::encodeDouble(sensor.temperature, "ThermalSensor.temperature");
    json["category"] = std::string(rawValue(sensor.category));
    return json;
}

ThermalSensor thermalSensorFromJson(const Json& json) {
    constexpr std::string_view ctx = "ThermalSensor";
    ThermalSensor sensor;
    sensor.id = json::decodeString(json::requireMember(json, "id", ctx), "ThermalSensor.id");
    sensor.name = json::decodeString(json::requireMember(json, "name", ctx), "ThermalSensor.name");
    sensor.temperature = json::decodeDouble(json::requireMember(json, "temperature", ctx),
                                            "ThermalSensor.temperature");
    auto raw =
        json::decodeString(json::requireMember(json, "category", ctx), "ThermalSensor.category");
    auto category = sensorCategoryFromRaw(raw);
    if (!category) {
        throw DecodingError("ThermalSensor.category: unknown category \"" + raw + "\"");
    }
    sensor.category = *category;
    return sensor;
}

} // namespace ventoral
