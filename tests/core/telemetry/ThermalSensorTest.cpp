#include "core/telemetry/ThermalSensor.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

TEST(SensorCategory, RawValuesIconsAndOrder) {
    const std::vector<std::pair<std::string, std::string>> expected{
        {"CPU", "cpu"},
        {"GPU", "display"},
        {"Neural Engine", "brain"},
        {"System / Ambient", "macbook.gen2"},
        {"Battery", "battery.100"},
        {"Storage", "internaldrive"}};
    ASSERT_EQ(allSensorCategories.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        auto category = allSensorCategories[i];
        EXPECT_EQ(rawValue(category), expected[i].first);
        EXPECT_EQ(iconName(category), expected[i].second);
        EXPECT_EQ(sensorCategoryFromRaw(expected[i].first), category);
    }
    EXPECT_FALSE(sensorCategoryFromRaw("cpu"));
}

TEST(ThermalSensorJson, RoundTripsAndRejectsUnknownCategories) {
    ThermalSensor sensor{"TC0P", "CPU Proximity", 51.25, SensorCategory::cpu};
    Json json = toJson(sensor);
    EXPECT_EQ(json.dump(),
              R"({"id":"TC0P","name":"CPU Proximity","temperature":51.25,"category":"CPU"})");
    EXPECT_EQ(thermalSensorFromJson(json), sensor);

    json["category"] = "Fan";
    try {
        thermalSensorFromJson(json);
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_STREQ(error.what(), "ThermalSensor.category: unknown category \"Fan\"");
    }
    json["category"] = "CPU";
    json["temperature"] = "51";
    EXPECT_THROW(thermalSensorFromJson(json), DecodingError);
    json.erase("temperature");
    EXPECT_THROW(thermalSensorFromJson(json), DecodingError);
}

} // namespace
} // namespace ventoral
