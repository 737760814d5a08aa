#include "core/telemetry/DashboardSection.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

TEST(DashboardSection, CasesInOrderWithTitlesAndIcons) {
    struct Row {
        const char *raw, *title, *icon;
    };
    const Row rows[] = {{"cooling", "Cooling & Fans", "fanblades.fill"},
                        {"batteryPower", "Battery & Power", "bolt.batteryblock.fill"},
                        {"sensors", "Thermal Matrix", "thermometer.medium"},
                        {"menuBar", "Menu Bar & Icon", "menubar.rectangle"}};
    ASSERT_EQ(allDashboardSections.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        auto section = allDashboardSections[i];
        EXPECT_EQ(rawValue(section), rows[i].raw);
        EXPECT_EQ(title(section), rows[i].title);
        EXPECT_EQ(iconName(section), rows[i].icon);
        EXPECT_EQ(dashboardSectionFromRaw(rows[i].raw), section);
    }
    EXPECT_FALSE(dashboardSectionFromRaw("Cooling"));
}

} // namespace
} // namespace ventoral
