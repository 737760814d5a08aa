#include "core/smc/SMCService.h"
#include "tests/platform/smc/SMCTestMachine.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace testing;

class FakeChannel final : public ThermalChannel {
public:
    FakeChannel(std::optional<std::string> product, std::optional<double> value)
        : product_(std::move(product)), value_(value) {}
    std::optional<std::string> product() const override { return product_; }
    std::optional<double> currentTemperature() override { return value_; }

private:
    std::optional<std::string> product_;
    std::optional<double> value_;
};

class FakeChannelSource final : public ThermalChannelSource {
public:
    std::vector<std::shared_ptr<ThermalChannel>> services;
    int copies = 0;
    std::vector<std::shared_ptr<ThermalChannel>> copyServices() override {
        ++copies;
        return services;
    }
};

TEST(SMCServiceThermal, ClassificationTable) {
    const std::pair<const char*, SensorCategory> cases[] = {
        {"GPU Die Temp", SensorCategory::cpu},
        {"PMU tdie1", SensorCategory::cpu},
        {"amdgpu edge", SensorCategory::gpu},
        {"NPU cluster", SensorCategory::ane},
        {"Battery gas gauge", SensorCategory::battery},
        {"gas gauge", SensorCategory::battery},
        {"NAND CH0", SensorCategory::storage},
        {"nvme Composite SSD", SensorCategory::storage},
        {"Ambient", SensorCategory::system},
        {"CORE 2", SensorCategory::cpu},
    };
    for (auto [name, category] : cases) {
        EXPECT_EQ(classifyThermalChannelName(name), category) << name;
    }
}

TEST(SMCServiceThermal, ChannelsThenKeysWithRangesAndFilter) {
    auto source = std::make_shared<FakeChannelSource>();
    source->services = {
        std::make_shared<FakeChannel>("coretemp Package id 0", 55.0),
        nullptr,
        std::make_shared<FakeChannel>(std::nullopt, 40.0),
        std::make_shared<FakeChannel>("nvme Composite SSD", 38.0),
        std::make_shared<FakeChannel>("amdgpu edge", 15.0),
        std::make_shared<FakeChannel>("cpu edge", 135.0),
        std::make_shared<FakeChannel>("cpu quiet", std::nullopt),
    };
    Machine m({{"TC0P", number("flt ", 130)},
               {"Tp09", number("flt ", 10)},
               {"TG0P", number("flt ", 60)},
               {"Tm0P", number("sp78", 41)}},
              true, source);
    const std::vector<ThermalSensor> all{
        {"hid_0", "coretemp Package id 0", 55.0, SensorCategory::cpu},
        {"hid_2", "Sensor 2", 40.0, SensorCategory::system},
        {"hid_3", "nvme Composite SSD", 38.0, SensorCategory::storage},
        {"smc_TG0P", "GPU Proximity", 60.0, SensorCategory::gpu},
        {"smc_Tm0P", "Memory Proximity", 41.0, SensorCategory::system},
    };
    EXPECT_EQ(m->readThermalSensors(false), all);
    const std::vector<ThermalSensor> primary{
        {"hid_0", "coretemp Package id 0", 55.0, SensorCategory::cpu},
        {"smc_TG0P", "GPU Proximity", 60.0, SensorCategory::gpu},
    };
    EXPECT_EQ(m->readThermalSensors(true), primary);
    EXPECT_EQ(source->copies, 1);

    auto snapshot = m->readSnapshot(false, true);
    EXPECT_TRUE(snapshot.sensors.empty());
    EXPECT_EQ(snapshot.timestamp, fixedNow);
}

TEST(SMCServiceThermal, NoChannelsMeansAskAgainNextTime) {
    auto source = std::make_shared<FakeChannelSource>();
    Machine m({}, true, source);
    EXPECT_TRUE(m->readThermalSensors(false).empty());
    source->services = {std::make_shared<FakeChannel>("cpu", 50.0)};
    EXPECT_EQ(m->readThermalSensors(false).size(), 1u);
    EXPECT_EQ(source->copies, 2);
}

TEST(SMCServicePower, BatteryRailAndPorts) {
    Machine m({{"PSTR", number("flt ", 0)},
               {"PDTR", number("flt ", 0)},
               {"PDBR", raw("ui16", {0, 1})},
               {"PBLR", number("flt ", 4)},
               {"PHPC", number("fpe2", 12.5)},
               {"B0AV", raw("ui16", {0x2C, 0x31})},
               {"B0AC", raw("si16", {0x18, 0xFC})},
               {"TB0T", number("sp78", 81)},
               {"D2JV", number("flt ", 20)},
               {"D2JI", number("flt ", 3)},
               {"D3JV", number("flt ", 20)},
               {"D3JI", number("flt ", 8)}});
    auto r = m->readPowerAndBatterySensors();
    EXPECT_FALSE(r.systemWatts);
    EXPECT_EQ(r.adapterInputWatts, 0.0);
    EXPECT_FALSE(r.displayWatts); // PDBR exists, so PBLR is not consulted
    EXPECT_EQ(r.socPackageWatts, 12.5);
    EXPECT_DOUBLE_EQ(*r.batteryVolts, 12.588);
    EXPECT_DOUBLE_EQ(*r.batteryAmps, -1.0);
    EXPECT_FALSE(r.batteryTemperatureCelsius);
    EXPECT_EQ(r.portRails, SMCPortOutputRails::measured({{2, 60.0}}, fixedNow));
    EXPECT_EQ(r.readAt, fixedNow);
    EXPECT_FALSE(m->readSystemWattsOnly());
}

TEST(SMCServicePower, HalfARailGivesNeitherAndPortsMayBeUnavailable) {
    Machine m({{"B0AV", raw("ui16", {0x2C, 0x31})},
               {"PBLR", number("flt ", 4)},
               {"PSTR", number("flt ", 12)}});
    auto r = m->readPowerAndBatterySensors();
    EXPECT_FALSE(r.batteryVolts);
    EXPECT_FALSE(r.batteryAmps);
    EXPECT_EQ(r.displayWatts, 4.0);
    EXPECT_EQ(r.portRails, SMCPortOutputRails::unavailable());
    EXPECT_EQ(m->readSystemWattsOnly(), 12.0);

    Machine onePortKey({{"D1JV", number("flt ", 5)}});
    EXPECT_EQ(onePortKey->readPowerAndBatterySensors().portRails,
              SMCPortOutputRails::measured({}, fixedNow));
}

TEST(SMCServicePower, AbsentKeysCostNothingAfterTheFirstRead) {
    Machine m({});
    m->readPowerAndBatterySensors();
    int calls = m.smc->callCount();
    m->readPowerAndBatterySensors();
    EXPECT_EQ(m.smc->callCount(), calls);
}

TEST(EmulatedProfiles, ShippedMachinesLoadAndRead) {
    auto laptop = EmulatedSmcTransport::fromProfileFile(profilePath("two-fan-laptop.json"), false);
    SMCService service(std::move(laptop));
    auto fans = service.readFans();
    ASSERT_EQ(fans.size(), 2u);
    EXPECT_EQ(fans[1].targetRPM, 2230.0f);
    EXPECT_EQ(service.readThermalSensors(true).size(), 3u);
    auto power = service.readPowerAndBatterySensors();
    EXPECT_DOUBLE_EQ(*power.batteryVolts, 12.588);
    EXPECT_THROW(service.writeFanMode(0, FanMode::manual), SMCError); // not root

    SMCService fanless(EmulatedSmcTransport::fromProfileFile(profilePath("fanless.json"), true));
    EXPECT_EQ(fanless.readFanCount(), 0);
    EXPECT_EQ(fanless.readSystemWattsOnly(), static_cast<double>(6.8f));
}

TEST(EmulatedProfiles, MalformedProfilesAreRejectedWithAReason) {
    const char* bad[] = {
        R"({})",
        R"({"keys":{}})",
        R"({"keys":[{"key":"FNum"}]})",
        R"({"keys":[{"key":"FNu","type":"ui8 ","value":1}]})",
        R"({"keys":[{"key":"XXXX","type":"ch8*","value":1}]})",
        R"({"keys":[{"key":"XXXX","type":"ch8*","bytes":"zz"}]})",
        R"({"keys":[{"key":"XXXX","type":"flt ","size":2,"value":1}]})",
    };
    for (const char* text : bad) {
        EXPECT_THROW(EmulatedSmcTransport::fromProfile(Json::parse(text), false), DecodingError)
            << text;
    }
    EXPECT_THROW(EmulatedSmcTransport::fromProfileFile("/nonexistent/profile.json", false),
                 DecodingError);
}

} // namespace
} // namespace ventoral
