#include "core/power/BatteryTelemetryParser.h"
#include "platform/power/LowPowerModeSwitch.h"
#include "platform/power/PowerProfileWatcher.h"
#include "platform/power/PowerProfiles.h"
#include "platform/power/SysfsPowerSourceProvider.h"
#include "platform/power/SysfsUSBTopologyReader.h"
#include "platform/power/WatchedLowPowerMode.h"
#include "platform/sysfs/SysfsFiles.h"
#include "tests/support/FakeProfileDaemon.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SysfsFixture.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {
namespace {

using testing::SysfsFixture;
using D = LooseDictionary;

TEST(SysfsPowerSourceProvider, ChargingOverUSBC) {
    SysfsFixture f;
    testing::usbCChargingLaptop(f);
    SysfsPowerSourceProvider provider(f.root());
    auto descriptions = provider.powerSourceDescriptions();
    ASSERT_TRUE(descriptions);
    ASSERT_EQ(descriptions->size(), 1u);
    EXPECT_EQ((*descriptions)[0], (D{{"Type", "InternalBattery"},
                                     {"Name", "BAT0"},
                                     {"Is Present", true},
                                     {"Power Source State", "AC Power"},
                                     {"Max Capacity", 100},
                                     {"Is Charging", true},
                                     {"Is Charged", false},
                                     {"Current Capacity", 55},
                                     {"Time to Full Charge", 75}}));
    EXPECT_EQ(provider.externalAdapterDetails(),
              (D{{"Watts", 65}, {"Name", "ucsi-source-psy-USBC000:001"}}));
    EXPECT_EQ(provider.batteryRegistry(), (D{{"ExternalConnected", true},
                                             {"IsCharging", true},
                                             {"CurrentCapacity", 55},
                                             {"Voltage", 16800},
                                             {"InstantAmperage", 1800},
                                             {"DesignCapacity", 5200},
                                             {"FullChargeCapacity", 5000},
                                             {"CycleCount", 87},
                                             {"BatteryHealth", "Good"},
                                             {"PowerTelemetryData", D{{"SystemPowerIn", 45000}}},
                                             {"AdapterDetails", D{{"Watts", 65}}}}));
}

TEST(SysfsPowerSourceProvider, DischargingFullAndDesktop) {
    SysfsFixture thinkpad;
    testing::thinkpadLaptop(thinkpad);
    SysfsPowerSourceProvider onBattery(thinkpad.root());
    auto d = (*onBattery.powerSourceDescriptions())[0];
    EXPECT_EQ(*member(d, "Power Source State"), LooseValue("Battery Power"));
    // 40 Wh left at 18.15 W.
    EXPECT_EQ(*member(d, "Time to Empty"), LooseValue(132));
    EXPECT_EQ(member(d, "Time to Full Charge"), nullptr);
    EXPECT_EQ(onBattery.externalAdapterDetails(), std::nullopt);
    auto r = onBattery.batteryRegistry();
    EXPECT_EQ(*member(r, "InstantAmperage"), LooseValue(-1500)); // discharging: negative
    // energy_* over voltage_now, since the battery gives no design voltage.
    EXPECT_EQ(*member(r, "FullChargeCapacity"), LooseValue(4132));
    EXPECT_EQ(*member(r, "CapacityVoltageSource"), LooseValue("voltage_now"));
    EXPECT_EQ(member(r, "DesignCapacity"), nullptr);

    SysfsFixture full;
    testing::fullOnPowerLaptop(full);
    SysfsPowerSourceProvider onMains(full.root());
    d = (*onMains.powerSourceDescriptions())[0];
    EXPECT_EQ(*member(d, "Is Charged"), LooseValue(true));
    EXPECT_EQ(*member(d, "Power Source State"), LooseValue("AC Power"));
    r = onMains.batteryRegistry();
    EXPECT_EQ(*member(r, "DesignCapacity"), LooseValue(5000));
    EXPECT_EQ(*member(r, "FullChargeCapacity"), LooseValue(4500));
    EXPECT_EQ(*member(r, "CapacityVoltageSource"), LooseValue("voltage_min_design"));
    EXPECT_EQ(*member(r, "BatteryHealth"), LooseValue("Check Battery"));
    EXPECT_EQ(member(r, "PowerTelemetryData"), nullptr);
    EXPECT_EQ(BatteryTelemetryParser::parseCapacity(r).healthPercent, 90.0);

    SysfsFixture desktop;
    testing::nct6775Desktop(desktop);
    SysfsPowerSourceProvider none(desktop.root());
    EXPECT_EQ(none.powerSourceDescriptions(), std::vector<D>{});
    EXPECT_EQ(none.batteryRegistry(), D{});
    EXPECT_EQ(none.externalAdapterDetails(), std::nullopt);
}

TEST(SysfsPowerSourceProvider, UnreadableAttributesAreAbsentNeverZero) {
    SysfsFixture f;
    f.powerSupply("BAT0", {{"type", "Battery"},
                           {"status", "Discharging"},
                           {"capacity", "lots"},
                           {"voltage_now", ""},
                           {"energy_now", "40000000"},
                           {"cycle_count", "-1"}});
    f.write("class/power_supply/BAT0/power_now/x", "a folder where a value should be");
    SysfsPowerSourceProvider provider(f.root());
    auto d = (*provider.powerSourceDescriptions())[0];
    EXPECT_EQ(member(d, "Current Capacity"), nullptr);
    EXPECT_EQ(*member(d, "Time to Empty"), LooseValue(-1)); // no rate: still calculating
    auto r = provider.batteryRegistry();
    EXPECT_EQ(member(r, "Voltage"), nullptr);
    EXPECT_EQ(member(r, "InstantAmperage"), nullptr);
    EXPECT_EQ(member(r, "CycleCount"), nullptr);
    EXPECT_EQ(member(r, "CurrentCapacity"), nullptr);
}

TEST(SysfsUSBTopologyReader, PortsDevicesAndTheInputPort) {
    SysfsFixture f;
    testing::usbCChargingLaptop(f);
    auto topology = SysfsUSBTopologyReader(f.root()).readTopology();
    EXPECT_EQ(topology.ports, (std::vector<USBPortTopologySnapshot::Port>{
                                  {1, "port0", {"YubiKey"}}, {2, "port1", {"Pixel 7"}}}));
    EXPECT_EQ(topology.inputChannel, 1);
    EXPECT_EQ(topology.inputPortType, "USB-C PD");

    SysfsFixture mains;
    testing::fullOnPowerLaptop(mains);
    auto barrel = SysfsUSBTopologyReader(mains.root()).readTopology();
    EXPECT_TRUE(barrel.ports.empty());
    EXPECT_EQ(barrel.inputChannel, std::nullopt);
    EXPECT_EQ(barrel.inputPortType, "AC Adapter");

    SysfsFixture thinkpad;
    testing::thinkpadLaptop(thinkpad);
    EXPECT_EQ(SysfsUSBTopologyReader(thinkpad.root()).readTopology(), USBPortTopologySnapshot{});
}

TEST(SysfsUSBTopologyReader, DeviceNames) {
    const std::pair<const char*, std::optional<USBDeviceAddress>> names[] = {
        {"3-2", USBDeviceAddress{3, {2}}},
        {"1-2.4.1", USBDeviceAddress{1, {2, 4, 1}}},
        {"3-2:1.0", std::nullopt},
        {"usb3", std::nullopt},
        {"1-0", std::nullopt},
        {"1-", std::nullopt},
        {"x-1", std::nullopt},
        {"1-1..2", std::nullopt},
    };
    for (auto [name, address] : names) {
        EXPECT_EQ(parseUSBDeviceName(name), address) << name;
    }
    EXPECT_EQ(usbLocationID({3, {2, 1}}), 0x03210000);
    EXPECT_LT(usbLocationID({1, {1}}), usbLocationID({1, {2}}));
}

class LowPowerModeFlagTest : public ::testing::Test {
protected:
    void SetUp() override {
        f.write("firmware/acpi/platform_profile_choices", "quiet balanced performance");
        f.write("firmware/acpi/platform_profile", "quiet");
    }
    SysfsFixture f;
};

TEST_F(LowPowerModeFlagTest, FromThePlatformProfile) {
    LowPowerModeFlag flag(f.root(), [] { return nullptr; });
    EXPECT_TRUE(flag.isEnabled());
    f.write("firmware/acpi/platform_profile", "balanced");
    EXPECT_FALSE(flag.isEnabled());
    f.remove("firmware");
    EXPECT_FALSE(flag.isEnabled());
}

TEST_F(LowPowerModeFlagTest, TheProfileDaemonWins) {
    testing::PrivateBus bus;
    ASSERT_TRUE(bus.isUp());
    testing::ScopedEnvironmentVariable systemBus("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
    {
        LowPowerModeFlag flag(f.root(), openSystemBus);
        EXPECT_TRUE(flag.isEnabled()); // no daemon yet: the platform profile says quiet
        testing::FakeProfileDaemon daemon("net.hadess.PowerProfiles", "/net/hadess/PowerProfiles",
                                          testing::FakeProfileDaemon::Behaviour::obey,
                                          "performance");
        EXPECT_FALSE(flag.isEnabled());
    }
    {
        testing::FakeProfileDaemon daemon(
            "org.freedesktop.UPower.PowerProfiles", "/org/freedesktop/UPower/PowerProfiles",
            testing::FakeProfileDaemon::Behaviour::obey, "power-saver");
        f.write("firmware/acpi/platform_profile", "balanced");
        EXPECT_TRUE(LowPowerModeFlag(f.root(), openSystemBus).isEnabled());

        // A switch made elsewhere is heard.
        std::atomic<int> heard{0};
        auto watcher = PowerProfileWatcher::start(openSystemBus, [&] { ++heard; });
        ASSERT_TRUE(watcher);
        EXPECT_TRUE(LowPowerModeSwitch(f.root(), openSystemBus).setLowPowerMode(false));
        EXPECT_TRUE(testing::waitUntil([&] { return heard > 0; }, 5));
    }
}

TEST_F(LowPowerModeFlagTest, KeptByEventsAndReadOnlyWhenOneComes) {
    testing::PrivateBus bus;
    ASSERT_TRUE(bus.isUp());
    testing::ScopedEnvironmentVariable systemBus("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
    WatchedLowPowerMode mode(f.root(), openSystemBus);
    std::mutex mutex;
    std::vector<bool> told;
    mode.subscribe([&](bool on) {
        std::lock_guard guard(mutex);
        told.push_back(on);
    });
    auto heard = [&] {
        std::lock_guard guard(mutex);
        return told;
    };
    EXPECT_TRUE(mode.isEnabled()); // the platform profile says quiet
    {
        sysfs::OpenCounter counter;
        f.write("firmware/acpi/platform_profile", "balanced");
        EXPECT_TRUE(mode.isEnabled()); // nothing said it changed: nothing is read
        EXPECT_TRUE(counter.opens().empty());
    }
    mode.refresh(); // what the platform profile's change signal does
    EXPECT_FALSE(mode.isEnabled());
    EXPECT_EQ(heard(), std::vector<bool>{false});

    // A profile daemon appearing is heard, and so is a switch made through it.
    testing::FakeProfileDaemon daemon("org.freedesktop.UPower.PowerProfiles",
                                      "/org/freedesktop/UPower/PowerProfiles",
                                      testing::FakeProfileDaemon::Behaviour::obey, "power-saver");
    ASSERT_TRUE(testing::waitUntil([&] { return heard().size() == 2; }, 5));
    EXPECT_TRUE(mode.isEnabled());
    EXPECT_TRUE(LowPowerModeSwitch(f.root(), openSystemBus).setLowPowerMode(false));
    ASSERT_TRUE(testing::waitUntil([&] { return heard().size() == 3; }, 5));
    EXPECT_EQ(heard(), (std::vector<bool>{false, true, false}));
    EXPECT_FALSE(mode.isEnabled());
}

TEST(PowerSupplySet, ListedAgainOnlyWhenTheSetMayHaveChanged) {
    SysfsFixture f;
    f.powerSupply("AC", {{"type", "Mains"}, {"online", "1"}});
    PowerSupplySet set(f.root());
    auto lists = [&] {
        sysfs::OpenCounter counter;
        (void)set.current();
        return counter.opens().count(f.root() + "/class/power_supply");
    };
    EXPECT_EQ(lists(), 1u); // nothing tells it of changes: every look lists
    EXPECT_EQ(lists(), 1u);
    set.setWatched(true);
    EXPECT_EQ(lists(), 1u);
    EXPECT_EQ(lists(), 0u);
    f.powerSupply("BAT0", {{"type", "Battery"}});
    set.changed();
    EXPECT_EQ(set.current().size(), 2u);
    EXPECT_EQ(lists(), 0u);
}

} // namespace
} // namespace ventoral
