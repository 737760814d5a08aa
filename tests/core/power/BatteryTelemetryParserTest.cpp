#include "core/power/BatteryTelemetryParser.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

namespace P = BatteryTelemetryParser;
using D = LooseDictionary;
using A = LooseValue::Array;
using State = BatteryChargeTimeState;

TEST(BatteryTelemetryParser, ValueConversions) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::optional<LooseValue> value;
        std::optional<bool> asBool;
        std::optional<std::int64_t> asInteger;
        std::optional<double> asDouble;
        std::optional<std::int64_t> asMAh;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {LooseValue(true), true, std::nullopt, std::nullopt, std::nullopt},
        {LooseValue(false), false, std::nullopt, std::nullopt, std::nullopt},
        {LooseValue(1), true, 1, 1.0, std::nullopt},
        {LooseValue(0.0), false, 0, 0.0, std::nullopt},
        {LooseValue(2), std::nullopt, 2, 2.0, std::nullopt},
        {LooseValue(2.5), std::nullopt, 3, 2.5, std::nullopt},
        {LooseValue(-2.5), std::nullopt, -3, -2.5, std::nullopt},
        {LooseValue(4500), std::nullopt, 4500, 4500.0, 4500},
        {LooseValue(4500.0), std::nullopt, 4500, 4500.0, 4500},
        {LooseValue(4500.5), std::nullopt, 4501, 4500.5, std::nullopt},
        {LooseValue(999), std::nullopt, 999, 999.0, std::nullopt},
        {LooseValue(1000), std::nullopt, 1000, 1000.0, 1000},
        {LooseValue(20000), std::nullopt, 20000, 20000.0, 20000},
        {LooseValue(20001), std::nullopt, 20001, 20001.0, std::nullopt},
        {LooseValue(inf), std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {LooseValue(std::nan("")), std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {LooseValue(1e19), std::nullopt, std::nullopt, 1e19, std::nullopt},
        {LooseValue("1"), std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {LooseValue(D{}), std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    int row = 0;
    for (const auto& c : cases) {
        const LooseValue* v = c.value ? &*c.value : nullptr;
        EXPECT_EQ(P::boolValue(v), c.asBool) << row;
        EXPECT_EQ(P::integerValue(v), c.asInteger) << row;
        EXPECT_EQ(P::doubleValue(v), c.asDouble) << row;
        EXPECT_EQ(P::milliampHours(v), c.asMAh) << row;
        ++row;
    }
}

TEST(BatteryTelemetryParser, PercentAndHealth) {
    const std::pair<const char*, std::optional<double>> percents[] = {
        {"87%", 87},
        {" 87.5 % \n", 87.5},
        {"100%", 100},
        {"1%", 1},
        {"0%", std::nullopt},
        {"101%", std::nullopt},
        {"87", std::nullopt},
        {"%", std::nullopt},
        {"abc%", std::nullopt},
        {"8 7%", std::nullopt},
        {"nan%", std::nullopt},
        {"inf%", std::nullopt},
        {"+50%", 50},
        {"-50%", std::nullopt},
        {"", std::nullopt},
    };
    for (auto [text, value] : percents) {
        EXPECT_EQ(P::percent(text), value) << text;
    }
    EXPECT_NEAR(*P::healthPercent(4300, 4500), 95.555, 0.001);
    EXPECT_EQ(P::healthPercent(4300, std::nullopt), std::nullopt);
    EXPECT_EQ(P::healthPercent(4300, 0), std::nullopt);
    EXPECT_EQ(P::healthPercent(800, 4500), std::nullopt);  // below 20 %
    EXPECT_EQ(P::healthPercent(7000, 4500), std::nullopt); // above 150 %
    EXPECT_EQ(P::healthPercent(900, 4500), 20.0);
}

TEST(BatteryTelemetryParser, ChargeTime) {
    auto onAC = [](D extra) {
        D d{{"Is Present", true}, {"Power Source State", "AC Power"}};
        for (auto& [k, v] : extra) {
            d.insert_or_assign(k, v);
        }
        return d;
    };
    auto charging = [&](LooseValue minutes) {
        return onAC(
            {{"Is Charging", true}, {"Is Charged", false}, {"Time to Full Charge", minutes}});
    };
    struct Case {
        D description;
        bool connected;
        State state;
    };
    const Case cases[] = {
        {charging(-1), true, State::calculating()},
        {charging(0), true, State::calculating()},
        {charging(75), true, State::estimated(75)},
        {charging(10080), true, State::estimated(10080)},
        {charging(70000), true, State::unavailable()},
        {charging("75"), true, State::unavailable()},
        {charging(75), false, State::unavailable()},
        {onAC({{"Is Charging", false}, {"Is Charged", false}}), true, State::paused()},
        {onAC({{"Is Charging", false}, {"Is Charged", true}}), true, State::charged()},
        {onAC({{"Is Charging", true}, {"Is Charged", true}}), true, State::unavailable()},
        {onAC({{"Is Charging", true}}), true, State::unavailable()},
        {onAC({{"Power Source State", "Battery Power"},
               {"Is Charging", false},
               {"Is Charged", true}}),
         true, State::unavailable()},
        {onAC({{"Power Source State", 1}, {"Is Charging", false}, {"Is Charged", true}}), true,
         State::unavailable()},
        {onAC({{"Is Present", false}, {"Is Charging", false}, {"Is Charged", true}}), true,
         State::unavailable()},
        {D{}, true, State::unavailable()},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(P::parseChargeTime(c.description, c.connected), c.state) << row++;
    }
}

TEST(BatteryTelemetryParser, Capacity) {
    struct Case {
        D registry;
        P::CapacityResult result;
    };
    const double health = 4300.0 / 4500.0 * 100;
    const Case cases[] = {
        {{{"DesignCapacity", 4500}, {"AppleRawMaxCapacity", 999}, {"FullChargeCapacity", 4300}},
         {4500, 4300, health}},
        {{{"DesignCapacity", 4500},
          {"FullChargeCapacity", 4300.5},
          {"NominalChargeCapacity", 4300}},
         {4500, 4300, health}},
        {{{"DesignCapacity", 4500}}, {4500, std::nullopt, std::nullopt}},
        {{{"FullChargeCapacity", 4300}}, {std::nullopt, 4300, std::nullopt}},
        {{{"DesignCapacity", true}}, {}},
        {{}, {}},
        // The nested dictionary wins when it has something.
        {{{"DesignCapacity", 5000},
          {"FullChargeCapacity", 4000},
          {"BatteryData", D{{"DesignCapacity", 4500}, {"FullChargeCapacity", 4300}}}},
         {4500, 4300, health}},
        {{{"DesignCapacity", 4500},
          {"FullChargeCapacity", 4300},
          {"BatteryData", D{{"Serial", "X"}}}},
         {4500, 4300, health}},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(P::parseCapacity(c.registry), c.result) << row++;
    }
}

TEST(BatteryTelemetryParser, Condition) {
    using C = BatteryCondition;
    struct Case {
        D registry;
        std::optional<C> condition;
    };
    const Case cases[] = {
        {{{"PermanentFailureStatus", 1}, {"BatteryHealth", "Good"}}, C::service},
        {{{"BatteryHealth", "Good"}, {"BatteryHealthCondition", "Check Battery"}}, C::service},
        {{{"BatteryHealth", "Normal"}}, C::normal},
        {{{"BatteryHealth", "Excellent"}}, std::nullopt},
        {{{"BatteryHealth", "good"}}, std::nullopt},
        {{{"BatteryHealth", 1}}, std::nullopt},
        {{{"PermanentFailureStatus", 0}, {"BatteryHealth", "Good"}}, C::normal},
        {{{"BatteryData", D{{"BatteryHealthCondition", "Poor"}}}, {"BatteryHealth", "Good"}},
         C::service},
        {{{"BatteryData", D{{"PermanentFailureStatus", 2}}}}, C::service},
        {{}, std::nullopt},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(P::parseCondition(c.registry), c.condition) << row++;
    }
}

TEST(BatteryTelemetryParser, SystemProfiler) {
    using R = P::SystemProfilerResult;
    struct Case {
        std::string json;
        R result;
    };
    const Case cases[] = {
        {R"({"SPPowerDataType":[{"_name":"spbattery_information"},
            {"sppower_battery_health_info":{"sppower_battery_health":"Good",
             "sppower_battery_health_maximum_capacity":"91%","sppower_battery_cycle_count":312}}]})",
         {BatteryCondition::normal, 91, 312}},
        // The first value of each wins; later items fill only what is missing.
        {R"({"SPPowerDataType":[
            {"sppower_battery_health_info":{"sppower_battery_health":"Service Battery"}},
            {"sppower_battery_health_info":{"sppower_battery_health":"Good",
             "sppower_battery_health_maximum_capacity":"80 %","sppower_battery_cycle_count":12.6}}]})",
         {BatteryCondition::service, 80, 13}},
        {R"({"SPPowerDataType":[{"sppower_battery_health_info":{"sppower_battery_cycle_count":true,
             "sppower_battery_health_maximum_capacity":91,"sppower_battery_health":"Meh"}}]})",
         {}},
        {R"({"SPPowerDataType":[{"sppower_battery_health_info":{"sppower_battery_cycle_count":1e999}}]})",
         {}},
        {R"({"SPPowerDataType":[1]})", {}},
        {R"({"SPPowerDataType":{}})", {}},
        {R"([])", {}},
        {"not json", {}},
        {"", {}},
        {std::string(100000, '['), {}},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(P::parseSystemProfiler(c.json), c.result) << row++;
    }
}

TEST(BatteryTelemetryParser, USBPorts) {
    using Rails = SMCPortOutputRails;
    auto details = [](A entries) { return D{{"PowerOutDetails", entries}}; };
    USBPortTopologySnapshot named;
    named.ports = {{1, "Port-USB-C@1", {"Phone"}}, {2, "Port-USB-C@2", {}}};
    USBPortTopologySnapshot inputOnTwo = named;
    inputOnTwo.inputChannel = 2;
    const auto& none = USBPortTopologySnapshot::empty();
    struct Case {
        Rails rails;
        D registry;
        const USBPortTopologySnapshot& topology;
        std::optional<P::USBPortsResult> result;
    };
    const Case cases[] = {
        {Rails::unavailable(), details({D{{"Watts", 1}}, D{{"Watts", 15000}}}), none,
         P::USBPortsResult{15, {{2, 15, std::nullopt}}}},
        {Rails::unavailable(), details({D{{"Watts", 200000}}}), none, std::nullopt},
        {Rails::unavailable(), details({D{{"Watts", 150000}}, D{{"Watts", 151000}}}), none,
         P::USBPortsResult{150, {{1, 150, std::nullopt}}}},
        {Rails::unavailable(),
         details({D{{"Watts", 150000}}, D{{"Watts", 100000}}, D{{"Watts", 60000}}}), none,
         std::nullopt}, // 310 W in all
        {Rails::unavailable(), details({D{{"Watts", 5000}, {"PortIndex", 1}}}), named,
         P::USBPortsResult{5, {{1, 5, "Phone"}}}},
        {Rails::unavailable(), details({}), none, std::nullopt},
        {Rails::unavailable(), details({D{{"Watts", 5000}}, LooseValue(3)}), none, std::nullopt},
        {Rails::unavailable(), D{}, none, std::nullopt},
        {Rails::measured({{1, 0.1}, {2, 5}}, {}), D{}, none,
         P::USBPortsResult{5, {{2, 5, std::nullopt}}}},
        {Rails::measured({{1, 0.1}, {2, 5}}, {}), D{}, inputOnTwo, std::nullopt},
        {Rails::measured({{1, 3}, {2, 2}}, {}), D{}, named,
         P::USBPortsResult{5, {{1, 3, "Phone"}, {2, 2, std::nullopt}}}},
        // Measured rails win over the registry, even when none is busy.
        {Rails::measured({}, {}), details({D{{"Watts", 5000}}}), none, std::nullopt},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(P::resolveUSBPorts(c.rails, c.registry, c.topology), c.result) << row++;
    }
}

} // namespace
} // namespace ventoral
