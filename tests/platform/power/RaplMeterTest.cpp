#include "platform/power/RaplMeter.h"

#include "platform/power/PowerSupplies.h"
#include "tests/support/SysfsFixture.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using testing::SysfsFixture;

TEST(RaplMeter, AveragesBetweenReadsAndHandlesTheWrap) {
    SysfsFixture f;
    f.powercap(
        "intel-rapl:0",
        {{"name", "package-0"}, {"energy_uj", "999000000"}, {"max_energy_range_uj", "1000000000"}});
    f.powercap("intel-rapl:1",
               {{"name", "package-1"}, {"energy_uj", "0"}, {"max_energy_range_uj", "1000000000"}});
    f.powercap("intel-rapl:0:0", {{"name", "package-core"}, {"energy_uj", "0"}});
    double now = 10;
    auto domains = raplDomains(f.root(), "package-");
    ASSERT_EQ(domains.size(), 2u);
    RaplMeter meter(domains, [&] { return now; });
    EXPECT_FALSE(meter.watts()); // baseline only
    now = 12;
    f.write("class/powercap/intel-rapl:0/energy_uj", "3000000"); // wrapped: 4 J
    f.write("class/powercap/intel-rapl:1/energy_uj", "6000000"); // 6 J
    EXPECT_DOUBLE_EQ(*meter.watts(), 5.0);
    now = 13;
    f.write("class/powercap/intel-rapl:1/energy_uj", "bad");
    EXPECT_FALSE(meter.watts());
    EXPECT_FALSE(meter.isReadable());
    EXPECT_FALSE(RaplMeter({}, [&] { return now; }).isReadable());
}

TEST(PowerSupplies, BatteryAndUsbCSources) {
    SysfsFixture f;
    f.powerSupply("hidpp_battery_0", {{"type", "Battery"}, {"scope", "Device"}});
    f.powerSupply("BAT1", {{"type", "Battery"},
                           {"status", "Not charging"},
                           {"voltage_now", "8000000"},
                           {"power_now", "16000000"}});
    f.powerSupply("ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "1"}});
    f.powerSupply("ucsi-source-psy-USBC000:002", {{"type", "USB"}, {"scope", "Device"}});
    f.powerSupply("ADP1", {{"type", "Mains"}, {"online", "1"}});
    auto supplies = listPowerSupplies(f.root());
    auto battery = systemBattery(supplies);
    ASSERT_TRUE(battery);
    EXPECT_EQ(battery->name, "BAT1");
    EXPECT_EQ(batteryVolts(*battery), 8.0);
    EXPECT_EQ(batteryAmps(*battery), 0.0); // neither charging nor discharging
    EXPECT_FALSE(batteryDischargeWatts(*battery));
    f.write("class/power_supply/BAT1/status", "Discharging");
    EXPECT_EQ(batteryAmps(*battery), -2.0); // from power_now over voltage
    EXPECT_EQ(batteryDischargeWatts(*battery), 16.0);
    auto sources = usbCSources(supplies);
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0].name, "ucsi-source-psy-USBC000:001");
}

} // namespace
} // namespace ventoral
