#include "core/power/BatteryStateSnapshot.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

using Charge = BatteryChargeTimeState;

struct BatteryFixture {
    bool present = true;
    std::int64_t percent = 50;
    bool charging = false, charged = false, connected = false, lowPower = false;
    std::optional<std::int64_t> timeToEmpty{};
    Charge charge = Charge::unavailable();

    BatteryStateSnapshot make() const {
        return {present, percent, charging, charged, connected, lowPower, timeToEmpty, charge};
    }
};

TEST(BatteryStateSnapshot, ClampsPercentage) {
    EXPECT_EQ((BatteryFixture{.percent = 130}.make().percentage), 100);
    EXPECT_EQ((BatteryFixture{.percent = -4}.make().percentage), 0);
    EXPECT_EQ((BatteryFixture{.percent = 77}.make().percentage), 77);
}

TEST(BatteryStateSnapshot, TintRoleFirstMatchingRule) {
    struct Case {
        BatteryFixture battery;
        BatteryTintRole role;
    };
    const Case cases[] = {
        {{.present = false, .lowPower = true}, BatteryTintRole::secondary},
        {{.percent = 10, .charging = true, .lowPower = true}, BatteryTintRole::caution},
        {{.percent = 10, .charging = true}, BatteryTintRole::positive},
        {{.percent = 20}, BatteryTintRole::critical},
        {{.percent = 21}, BatteryTintRole::primary},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.battery.make().tintRole(), c.role) << rawValue(c.role);
    }
}

TEST(BatteryStateSnapshot, SymbolNameByState) {
    const std::pair<BatteryFixture, const char*> cases[] = {
        {{.present = false}, "powerplug.fill"},
        {{.percent = 5, .charging = true}, "battery.100percent.bolt"},
        {{.percent = 100}, "battery.100percent"},
        {{.percent = 88}, "battery.100percent"},
        {{.percent = 87}, "battery.75percent"},
        {{.percent = 63}, "battery.75percent"},
        {{.percent = 62}, "battery.50percent"},
        {{.percent = 38}, "battery.50percent"},
        {{.percent = 37}, "battery.25percent"},
        {{.percent = 13}, "battery.25percent"},
        {{.percent = 12}, "battery.0percent"},
    };
    for (const auto& [battery, symbol] : cases) {
        EXPECT_EQ(battery.make().symbolName(), symbol) << battery.percent;
    }
}

TEST(BatteryStateSnapshot, SummaryTitle) {
    EXPECT_EQ(BatteryFixture{.percent = 87}.make().summaryTitle(12.0), "Battery \u00B7 87%");
    auto ac = BatteryFixture{.present = false}.make();
    EXPECT_EQ(ac.summaryTitle(23.44), "AC Power \u00B7 23.4 W");
    EXPECT_EQ(ac.summaryTitle(0.0), "AC Power");
    EXPECT_EQ(ac.summaryTitle(std::numeric_limits<double>::quiet_NaN()), "AC Power");
    EXPECT_EQ(ac.summaryTitle(std::nullopt), "AC Power");
}

TEST(BatteryStateSnapshot, SummarySubtitle) {
    const std::string dot = " \u00B7 ";
    const std::pair<BatteryFixture, std::string> cases[] = {
        {{.present = false, .lowPower = true}, "Connected to external power"},
        {{.charging = true, .charge = Charge::estimated(65)},
         "Charging" + dot + "1h 5m until full"},
        {{.charging = true, .charge = Charge::calculating()},
         "Charging" + dot + "Calculating time until full\u2026"},
        {{.charging = true, .charge = Charge::charged()}, "Charging" + dot + "Fully charged"},
        {{.charging = true, .charge = Charge::paused()}, "Charging" + dot + "Charging on hold"},
        {{.charging = true}, "Charging"},
        {{.charged = true, .connected = true}, "Connected to power" + dot + "Fully charged"},
        {{.connected = true, .charge = Charge::charged()},
         "Connected to power" + dot + "Fully charged"},
        {{.connected = true, .charge = Charge::paused()},
         "Connected to power" + dot + "Charging on hold"},
        {{.connected = true, .charge = Charge::estimated(5)}, "Connected to power"},
        {{.timeToEmpty = 90}, "On battery" + dot + "1h 30m remaining"},
        {{.timeToEmpty = 10080}, "On battery" + dot + "168h remaining"},
        {{.timeToEmpty = 10081}, "On battery power"},
        {{.timeToEmpty = 0}, "On battery power"},
        {{}, "On battery power"},
        {{.lowPower = true, .timeToEmpty = 90},
         "On battery" + dot + "1h 30m remaining" + dot + "Low Power Mode"},
        {{.charging = true, .lowPower = true}, "Charging" + dot + "Low Power Mode"},
    };
    for (const auto& [battery, text] : cases) {
        EXPECT_EQ(battery.make().summarySubtitle(), text);
    }
}

TEST(BatteryChargeTimeState, Descriptions) {
    EXPECT_EQ(Charge::estimated(65).formattedDescription(), "1h 5m until full");
    EXPECT_EQ(Charge::estimated(0).formattedDescription(), "0m until full");
    EXPECT_EQ(Charge::charged().formattedDescription(), "Fully charged");
    EXPECT_FALSE(Charge::unavailable().formattedDescription());
}

TEST(BatteryChargeTimeStateJson, RoundTripsEveryCase) {
    const std::pair<Charge, const char*> cases[] = {
        {Charge::estimated(38), R"({"estimated":{"minutes":38}})"},
        {Charge::calculating(), R"({"calculating":{}})"},
        {Charge::charged(), R"({"charged":{}})"},
        {Charge::paused(), R"({"paused":{}})"},
        {Charge::unavailable(), R"({"unavailable":{}})"},
    };
    for (const auto& [state, text] : cases) {
        EXPECT_EQ(toJson(state).dump(), text);
        EXPECT_EQ(batteryChargeTimeStateFromJson(Json::parse(text)), state) << text;
    }
}

TEST(BatteryChargeTimeStateJson, RejectsAllButExactlyOneCase) {
    for (const char* text : {R"({})", R"({"charged":{},"paused":{}})", R"({"full":{}})"}) {
        try {
            batteryChargeTimeStateFromJson(Json::parse(text));
            ADD_FAILURE() << text << " decoded";
        } catch (const DecodingError& error) {
            EXPECT_STREQ(error.what(), "Invalid number of keys found, expected one.") << text;
        }
    }
    for (const char* text : {R"({"estimated":{}})", R"({"estimated":{"minutes":"5"}})",
                             R"({"charged":true})", R"([])"}) {
        EXPECT_THROW(batteryChargeTimeStateFromJson(Json::parse(text)), DecodingError) << text;
    }
    // A member that names no case does not count.
    EXPECT_EQ(batteryChargeTimeStateFromJson(Json::parse(R"({"charged":{},"note":1})")),
              Charge::charged());
}

TEST(BatteryHealthSnapshot, DisplayMaximumCapacityPercent) {
    struct Case {
        std::optional<double> maximum, health;
        std::optional<int> expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {{0.5, 104.6, 100},
                          {99.5, std::nullopt, 100},
                          {std::nullopt, std::nullopt, std::nullopt},
                          {94.4, 50, 94},
                          {1, std::nullopt, 1},
                          {100.5, 80.5, 81},
                          {nan, 19.9, std::nullopt},
                          {std::nullopt, 120.0, 100},
                          {std::nullopt, 120.1, std::nullopt},
                          {std::nullopt, 20.0, 20}};
    for (const auto& c : cases) {
        BatteryHealthSnapshot health;
        health.maximumCapacityPercent = c.maximum;
        health.healthPercent = c.health;
        EXPECT_EQ(health.displayMaximumCapacityPercent(), c.expected)
            << c.maximum.value_or(-1) << " / " << c.health.value_or(-1);
    }
}

TEST(BatteryRecords, RawValues) {
    EXPECT_EQ(rawValue(BatteryCondition::normal), "Normal");
    EXPECT_EQ(rawValue(BatteryCondition::service), "Service Recommended");
    EXPECT_EQ(batteryConditionFromRaw("Service Recommended"), BatteryCondition::service);
    EXPECT_FALSE(batteryConditionFromRaw("Poor"));
}

} // namespace
} // namespace ventoral
