#include "core/menubar/MenuBarLabel.h"

#include "core/telemetry/FanAverages.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

std::string grouped(long long value) {
    std::string digits = std::to_string(value);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) {
        digits.insert(static_cast<std::size_t>(i), ",");
    }
    return digits;
}

TEST(MenuBarLabel, PartsInOrderJoinedByBullets) {
    MenuBarDisplaySettings everything;
    everything.showPercentage = everything.showRPM = everything.showCPUTemp =
        everything.showGPUTemp = everything.showPowerWatts = everything.showBatteryPercent = true;
    const MenuBarLabelReadings readings{50, 2149.5f, 61.6, 48.4, 7.26, 80};
    struct Case {
        const char* name;
        MenuBarDisplaySettings settings;
        MenuBarLabelReadings readings;
        std::string text;
    };
    MenuBarDisplaySettings nothing;
    nothing.showPercentage = nothing.showCPUTemp = false;
    MenuBarDisplaySettings wattsAndBattery = nothing;
    wattsAndBattery.showPowerWatts = wattsAndBattery.showBatteryPercent = true;
    const Case cases[] = {
        {"every part", everything, readings,
         "50% \u2022 2,150 RPM \u2022 62\u00B0C \u2022 GPU 48\u00B0C \u2022 7.3W \u2022 80%"},
        {"no part", nothing, readings, ""},
        {"nothing measured, no battery",
         wattsAndBattery,
         {50, 0, 0, 0, std::nullopt, std::nullopt},
         ""},
        {"temperatures not numbers",
         everything,
         {0, 0, NAN, NAN, std::nullopt, std::nullopt},
         "0% \u2022 0 RPM \u2022 0\u00B0C \u2022 GPU 0\u00B0C"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(menuBarLabelText(c.settings, c.readings, grouped), c.text) << c.name;
    }
}

TEST(FanAverages, OverEveryFanAndWithoutFans) {
    const std::vector<FanInfo> fans{
        {0, "A", 3600, 1200, 6000, 0, FanMode::automatic, false}, // 50 %
        {1, "B", 5000, 1000, 5000, 0, FanMode::automatic, false}, // 100 %
    };
    EXPECT_EQ(averageRPM(fans), 4300);
    EXPECT_EQ(averageMinRPM(fans), 1100);
    EXPECT_EQ(averageMaxRPM(fans), 5500);
    EXPECT_EQ(averageFanPercentage(fans), 75);
    const std::vector<FanInfo> narrow{{0, "A", 0, 3000, 2000, 0, FanMode::automatic, false}};
    EXPECT_EQ(averageMaxRPM(narrow), 3100); // never below the minimum + 100
    EXPECT_EQ(averageRPM({}), 0);
    EXPECT_EQ(averageMinRPM({}), 1200);
    EXPECT_EQ(averageMaxRPM({}), 6500);
    EXPECT_EQ(averageFanPercentage({}), 0);
}

} // namespace
} // namespace ventoral
