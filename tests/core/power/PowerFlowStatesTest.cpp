#include "core/power/PowerFlowDiagramState.h"
#include "core/power/PowerInfoBarState.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using Kind = PowerFlowDiagramState::Kind;
using IK = PowerInfoBarKind;

BatteryStateSnapshot battery(bool present, bool charging, bool connected, int percent = 80) {
    return {present,   percent, charging,     false,
            connected, false,   std::nullopt, BatteryChargeTimeState::unavailable()};
}

// A battery flow of `watts` (positive while charging) at 10 V.
PowerTelemetrySnapshot flow(std::optional<double> adapter, double batteryWatts,
                            std::optional<double> system = std::nullopt) {
    PowerTelemetrySnapshot p;
    p.adapterInputWatts = adapter;
    p.batteryVolts = 10;
    p.batteryAmps = batteryWatts / 10;
    p.systemWatts = system;
    return p;
}

struct Row {
    std::string id;
    Kind kind;
    std::string label;
    std::optional<std::string> help;
    double watts;
    double fraction;
};

void expectDestinations(const PowerFlowDiagramState& state, const std::vector<Row>& rows) {
    ASSERT_EQ(state.destinations.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& m = state.destinations[i];
        EXPECT_EQ(m.id, rows[i].id);
        EXPECT_EQ(m.kind, rows[i].kind) << m.id;
        EXPECT_EQ(m.label, rows[i].label) << m.id;
        EXPECT_EQ(m.help, rows[i].help) << m.id;
        EXPECT_NEAR(m.watts, rows[i].watts, 1e-9) << m.id;
        EXPECT_NEAR(m.fraction, rows[i].fraction, 1e-9) << m.id;
        EXPECT_EQ(m.detail, std::nullopt);
    }
}

TEST(PowerFlowDiagramState, AdapterSplitOverEveryDestination) {
    auto p = flow(60, 20, 30);
    p.displayWatts = 3;
    p.usbOutputWatts = 5;
    p.usbPorts = {{1, 3, std::nullopt}, {2, 2, "Phone"}};
    p.adapterRatedWatts = 96;
    auto state = PowerFlowDiagramState::resolve(battery(true, true, true), p);
    ASSERT_TRUE(state);
    ASSERT_TRUE(state->input);
    EXPECT_EQ(*state->input,
              PowerFlowDiagramState::Metric("input", Kind::input, "60.0 W", "Input", "96 W",
                                            "External DC adapter input (PDTR)", 60, 1));
    expectDestinations(
        *state,
        {{"charging", Kind::charging, "Charging", "Battery pack charging power", 20, 20.0 / 60},
         {"display", Kind::display, "Display", "Built-in display backlight (PDBR / PBLR)", 3,
          3.0 / 60},
         {"usb_1", Kind::usb, "USB-C Port 1", "Accessory USB-C output (Port 1)", 3, 3.0 / 60},
         {"usb_2", Kind::usb, "Phone", "Accessory USB-C output (Port 2)", 2, 2.0 / 60},
         {"system", Kind::system, "System", "SoC, memory, fans, storage & board residual", 32,
          32.0 / 60}});
    EXPECT_EQ(state->destinations[0].value, "20.0 W");

    p.chargingPortType = "USB-C PD";
    p.usbPorts = {{3, 5, std::nullopt}};
    state = PowerFlowDiagramState::resolve(battery(true, true, true), p);
    EXPECT_EQ(state->input->detail, "USB-C PD");
    EXPECT_EQ(state->destinations[2].help, "Accessory USB-C output");
    EXPECT_EQ(state->destinations[2].id, "usb_3");
}

TEST(PowerFlowDiagramState, DistrustedResidualAndOtherSources) {
    auto over = flow(60, 70, 25);
    over.displayWatts = 2;
    auto state = PowerFlowDiagramState::resolve(battery(true, true, true), over);
    ASSERT_TRUE(state);
    EXPECT_NEAR(state->destinations.back().watts, 23, 1e-9);
    EXPECT_FALSE(PowerFlowDiagramState::resolve(battery(true, true, true), flow(60, 70)));

    // Below the adapter floor the battery is the source.
    auto draining = flow(4, -12);
    state = PowerFlowDiagramState::resolve(battery(true, false, false, 80), draining);
    ASSERT_TRUE(state);
    EXPECT_EQ(*state->input, PowerFlowDiagramState::Metric(
                                 "battery_source", Kind::batterySource, "12.0 W", "Battery", "80%",
                                 "Battery discharge supplying Mac load", 12, 1));
    expectDestinations(*state, {{"system", Kind::system, "System",
                                 "SoC, memory, fans, storage & board load", 12, 1}});

    EXPECT_FALSE(
        PowerFlowDiagramState::resolve(battery(true, false, false), flow(std::nullopt, 0, 0.5)));

    // Connected, not draining, running on a system reading.
    auto held = flow(std::nullopt, 0, 8);
    held.chargingPortType = "USB-C";
    held.displayWatts = 0.08; // counts against the residual, draws no branch
    // Fractions share the destinations' total (7.92 W), not the source.
    held.usbOutputWatts = 2;
    held.usbPorts = {{1, 1, std::nullopt}, {2, 1, std::nullopt}};
    state = PowerFlowDiagramState::resolve(battery(true, false, true), held);
    ASSERT_TRUE(state);
    EXPECT_EQ(*state->input, PowerFlowDiagramState::Metric("input", Kind::input, "8.0 W", "Input",
                                                           "USB-C", "External power source", 8, 1));
    expectDestinations(*state,
                       {{"usb_1", Kind::usb, "USB-C Port 1", "Accessory USB-C output", 1, 1 / 7.92},
                        {"usb_2", Kind::usb, "USB-C Port 2", "Accessory USB-C output", 1, 1 / 7.92},
                        {"system", Kind::system, "System",
                         "SoC, memory, fans, storage & board load", 5.92, 5.92 / 7.92}});

    // Outputs beyond the source: only the system, at the whole source.
    auto busy = flow(std::nullopt, -3);
    busy.usbOutputWatts = 10;
    state = PowerFlowDiagramState::resolve(battery(true, false, false), busy);
    expectDestinations(*state, {{"system", Kind::system, "System",
                                 "SoC, memory, fans, storage & board load", 3, 1}});
}

TEST(PowerFlowDiagramState, MetricClampsItsFraction) {
    using M = PowerFlowDiagramState::Metric;
    EXPECT_EQ(M("a", Kind::usb, "", "", {}, {}, 1, 2).fraction, 1);
    EXPECT_EQ(M("a", Kind::usb, "", "", {}, {}, 1, -1).fraction, 0);
    EXPECT_EQ(M("a", Kind::usb, "", "", {}, {}, 1, std::nan("")).fraction, 0);
    EXPECT_EQ(rawValue(Kind::batterySource), "batterySource");
}

TEST(PowerInfoBarState, Items) {
    struct Case {
        BatteryStateSnapshot battery;
        PowerTelemetrySnapshot power;
        std::vector<PowerInfoBarItem> items;
    };
    auto rated = flow(45.3, 20, 25);
    rated.adapterRatedWatts = 96;
    PowerTelemetrySnapshot noReadings;
    const std::string system = "Total Mac system load (AppleSMC PSTR)";
    const Case cases[] = {
        {battery(true, false, false),
         noReadings,
         {{IK::inputDisconnected, "0.0 W", "Power adapter disconnected"},
          {IK::batteryDischarging, std::nullopt, "Battery power telemetry"},
          {IK::system, std::nullopt, system}}},
        {battery(true, true, true),
         rated,
         {{IK::input, "45.3 W", "DC Adapter Input Power (96 W adapter)"},
          {IK::batteryCharging, "20.0 W", "Power charging into battery pack"},
          {IK::system, "25.0 W", system}}},
        {battery(true, false, true),
         flow(std::nullopt, 0.1),
         {{IK::input, "\u2014", "DC Adapter Input Power"},
          {IK::batteryIdle, "0.0 W", "Battery pack idle (held / full)"},
          {IK::system, std::nullopt, system}}},
        {battery(true, true, true),
         flow(30, 0.1),
         {{IK::input, "30.0 W", "DC Adapter Input Power"},
          {IK::batteryCharging, "0.1 W", "Power charging into battery pack"},
          {IK::system, std::nullopt, system}}},
        {battery(true, false, false),
         flow(2, -0.1),
         {{IK::input, "2.0 W", "DC Adapter Input Power"},
          {IK::batteryDischarging, "0.1 W", "Power drawn from battery pack"},
          {IK::system, std::nullopt, system}}},
        {battery(true, false, true),
         flow(30, -5),
         {{IK::input, "30.0 W", "DC Adapter Input Power"},
          {IK::batteryDischarging, "5.0 W", "Power drawn from battery pack"},
          {IK::system, std::nullopt, system}}},
        {battery(true, true, true),
         noReadings,
         {{IK::input, "\u2014", "DC Adapter Input Power"},
          {IK::batteryCharging, std::nullopt, "Battery power telemetry"},
          {IK::system, std::nullopt, system}}},
        {battery(true, false, true),
         noReadings,
         {{IK::input, "\u2014", "DC Adapter Input Power"},
          {IK::batteryIdle, std::nullopt, "Battery power telemetry"},
          {IK::system, std::nullopt, system}}},
        {battery(false, false, true),
         flow(65, 0, 40),
         {{IK::input, "65.0 W", "DC Adapter Input Power"}, {IK::system, "40.0 W", system}}},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(PowerInfoBarState::make(c.battery, c.power).items, c.items) << row++;
    }
    EXPECT_EQ(title(IK::batteryCharging), "Charging");
    EXPECT_EQ(title(IK::inputDisconnected), "Input");
    EXPECT_EQ((PowerInfoBarItem{IK::batteryIdle, {}, ""}.id()), "batteryIdle");
}

} // namespace
} // namespace ventoral
