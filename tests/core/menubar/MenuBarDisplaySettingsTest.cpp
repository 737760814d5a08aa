#include "core/menubar/MenuBarDisplaySettings.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

TEST(MenuBarEnumerations, RawValuesAndTitles) {
    EXPECT_EQ(title(MenuBarIconStyle::fanBlades), "Classic Fan");
    EXPECT_EQ(rawValue(TrioTopBatteryStyle::ringOnly), "ringOnly");
    EXPECT_EQ(title(TrioTopBatteryStyle::smart), "Bolt / Plug");
    EXPECT_EQ(title(TrioCenterSlot::powerWatts), "Power (W)");
    EXPECT_EQ(rawValue(TrioCenterSlot::fanPercent), "fanPercent");
    EXPECT_EQ(title(TrioBottomStyle::dots), "4 Dots");
    EXPECT_EQ(title(TrioBottomStyle::arc), "Fan Arc");
    EXPECT_EQ(allTrioCenterSlots.size(), 4u);
}

TEST(MenuBarDisplaySettings, TextMetricsAndSanitizing) {
    MenuBarDisplaySettings s;
    EXPECT_TRUE(s.hasAnyTextMetric());
    s.showPercentage = s.showCPUTemp = false;
    EXPECT_FALSE(s.hasAnyTextMetric());
    s.showIcon = false;
    EXPECT_TRUE(s.sanitized().showIcon);
    s.showBatteryPercent = true;
    EXPECT_FALSE(s.sanitized().showIcon);
    EXPECT_EQ(s.sanitized(), s);
}

TEST(MenuBarDisplaySettingsJson, EncodesAllElevenMembers) {
    EXPECT_EQ(toJson(MenuBarDisplaySettings{}).dump(),
              R"({"showIcon":true,"iconStyle":"trioRing","trioTopStyle":"smart",)"
              R"("trioCenterSlot":"fanGlyph","trioBottomStyle":"dots","showPercentage":true,)"
              R"("showRPM":false,"showCPUTemp":true,"showGPUTemp":false,"showPowerWatts":false,)"
              R"("showBatteryPercent":false})");
    MenuBarDisplaySettings custom{false,
                                  MenuBarIconStyle::fanBlades,
                                  TrioTopBatteryStyle::percentage,
                                  TrioCenterSlot::batteryPercent,
                                  TrioBottomStyle::hidden,
                                  false,
                                  true,
                                  false,
                                  true,
                                  true,
                                  true};
    EXPECT_EQ(menuBarDisplaySettingsFromJson(toJson(custom)), custom);
    EXPECT_EQ(menuBarDisplaySettingsFromJson(toJson(MenuBarDisplaySettings{})),
              MenuBarDisplaySettings{});
}

TEST(MenuBarDisplaySettingsJson, TolerantDecoding) {
    auto decode = [](const char* text) {
        return menuBarDisplaySettingsFromJson(Json::parse(text));
    };
    EXPECT_EQ(decode("{}"), MenuBarDisplaySettings{});
    EXPECT_TRUE(decode(R"({"showIcon":false})").showIcon);

    auto noIcon = decode(R"({"showIcon":false,"iconStyle":"fanBlades"})");
    EXPECT_FALSE(noIcon.showIcon);
    EXPECT_EQ(noIcon.iconStyle, MenuBarIconStyle::fanBlades);
    EXPECT_TRUE(noIcon.hasAnyTextMetric());
    EXPECT_FALSE(noIcon.sanitized().showIcon);

    auto empty = decode(
        R"({"showIcon":false,"iconStyle":"trioRing","showPercentage":false,"showCPUTemp":false})");
    EXPECT_FALSE(empty.showIcon);
    EXPECT_FALSE(empty.hasAnyTextMetric());
    EXPECT_TRUE(empty.sanitized().showIcon);

    auto nulls =
        decode(R"({"showRPM":null,"showPercentage":null,"iconStyle":null,"showIcon":false})");
    EXPECT_FALSE(nulls.showRPM);
    EXPECT_TRUE(nulls.showPercentage);
    EXPECT_FALSE(nulls.showIcon); // "iconStyle" is present, if null
    EXPECT_EQ(nulls.iconStyle, MenuBarIconStyle::trioRing);

    EXPECT_TRUE(decode(R"({"future":42,"showGPUTemp":true})").showGPUTemp);

    for (const char* bad :
         {R"({"trioBottomStyle":"stars"})", R"({"showRPM":1})", R"({"iconStyle":"TrioRing"})",
          R"({"trioCenterSlot":3})", R"([])", R"({"showIcon":"yes","iconStyle":"trioRing"})"}) {
        EXPECT_THROW(decode(bad), DecodingError) << bad;
    }
}

} // namespace
} // namespace ventoral
