#include "platform/power/LowPowerModeSwitch.h"

#include "tests/support/FakeProfileDaemon.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SysfsFixture.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {
namespace {

using namespace ventoral::testing;

TEST(LowPowerModeSwitch, PlatformProfileChoices) {
    struct Case {
        bool enabled;
        const char* choices;
        std::optional<std::string> profile;
    };
    const Case cases[] = {
        {true, "low-power balanced performance", "low-power"},
        {true, "cool quiet balanced performance", "quiet"},
        {true, "cool balanced performance", "cool"},
        {true, "balanced performance", std::nullopt},
        {false, "low-power balanced performance", "balanced"},
        {false, "low-power performance", std::nullopt},
        {true, "", std::nullopt},
        {true, "low-powered balanced", std::nullopt}, // whole words only
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platformProfileFor(c.enabled, c.choices), c.profile) << c.choices;
    }
}

class PlatformProfile : public ::testing::Test {
protected:
    void SetUp() override {
        machine.write(folder + "platform_profile_choices", "quiet balanced performance");
        machine.write(folder + "platform_profile", "performance");
    }
    std::string profile() { return machine.read(folder + "platform_profile"); }
    SysfsFixture machine;
    const std::string folder = "firmware/acpi/";
};

TEST_F(PlatformProfile, WithoutABusTheProfileFileIsSwitched) {
    LowPowerModeSwitch lpm(machine.root(), [] { return nullptr; });
    EXPECT_TRUE(lpm.setLowPowerMode(true));
    EXPECT_EQ(profile(), "quiet");
    EXPECT_TRUE(lpm.setLowPowerMode(false));
    EXPECT_EQ(profile(), "balanced");

    machine.write(folder + "platform_profile_choices", "performance");
    EXPECT_FALSE(lpm.setLowPowerMode(true));
    EXPECT_EQ(profile(), "balanced");
    machine.remove("firmware");
    EXPECT_FALSE(lpm.setLowPowerMode(true));
}

class ProfileDaemon : public PlatformProfile {
protected:
    void SetUp() override {
        PlatformProfile::SetUp();
        ASSERT_TRUE(bus.isUp());
        systemBus.emplace("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
    }
    LowPowerModeSwitch lpm() { return LowPowerModeSwitch(machine.root(), openSystemBus); }
    PrivateBus bus;
    std::optional<ScopedEnvironmentVariable> systemBus;
};

TEST_F(ProfileDaemon, TheDaemonIsUsedAndThePlatformProfileLeftAlone) {
    using B = FakeProfileDaemon::Behaviour;
    const std::pair<const char*, const char*> services[] = {
        {"org.freedesktop.UPower.PowerProfiles", "/org/freedesktop/UPower/PowerProfiles"},
        {"net.hadess.PowerProfiles", "/net/hadess/PowerProfiles"},
    };
    for (auto [name, path] : services) {
        FakeProfileDaemon daemon(name, path, B::obey);
        EXPECT_TRUE(lpm().setLowPowerMode(true)) << name;
        EXPECT_EQ(daemon.active(), "power-saver");
        EXPECT_TRUE(lpm().setLowPowerMode(false));
        EXPECT_EQ(daemon.active(), "balanced");
        EXPECT_EQ(profile(), "performance");
    }
}

TEST_F(ProfileDaemon, ARefusalOrASilentFallbackIsAFailure) {
    using B = FakeProfileDaemon::Behaviour;
    for (B behaviour : {B::refuse, B::ignore}) {
        FakeProfileDaemon daemon("org.freedesktop.UPower.PowerProfiles",
                                 "/org/freedesktop/UPower/PowerProfiles", behaviour);
        EXPECT_FALSE(lpm().setLowPowerMode(true));
        EXPECT_EQ(daemon.sets(), 1);
        EXPECT_EQ(profile(), "performance"); // never fought over through sysfs
    }
}

TEST_F(ProfileDaemon, AnEmptyBusFallsBackToThePlatformProfile) {
    EXPECT_TRUE(lpm().setLowPowerMode(true));
    EXPECT_EQ(profile(), "quiet");
}

} // namespace
} // namespace ventoral
