#include "platform/hwmon/HwmonFanLimits.h"

#include "platform/hwmon/FanCalibrationStore.h"
#include "tests/platform/hwmon/HwmonMachine.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using testing::Machine;
using testing::SysfsFixture;

const char* board = "devices/platform/nct6775.656/hwmon/hwmon2/";

void labelledLaptop(SysfsFixture& f) {
    f.hwmon(3, "platform/dell_smm_hwmon", "dell_smm",
            {{"fan1_input", "2400"},
             {"fan1_label", "  Processor Fan \n"},
             {"fan1_min", "0"},
             {"fan1_max", "4900"},
             {"fan2_input", "0"},
             {"fan2_label", "Video Fan"},
             {"fan2_min", "0"},
             {"fan2_max", "4600"},
             {"pwm1", "128"},
             {"pwm2", "0"}});
}

TEST(HwmonFanNames, TheHardwaresOwnNames) {
    struct Case {
        const char* machine;
        void (*build)(SysfsFixture&);
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"desktop",
         testing::nct6775Desktop,
         {"GPU Fan (amdgpu)", "nct6775 Fan 1", "nct6775 Fan 2", "nct6775 Fan 3"}},
        {"ThinkPad", testing::thinkpadLaptop, {"Fan (thinkpad)"}},
        {"applesmc keeps the usual names",
         testing::applesmcLaptop,
         {"Left Fan (CPU)", "Right Fan (GPU)"}},
        {"fanless", testing::fanlessMachine, {}},
        {"labels, trimmed", labelledLaptop, {"Processor Fan", "Video Fan"}},
        {"tuned desk",
         testing::userTunedDesk,
         {"Fan (max6650)", "nct6775 Fan 1", "nct6775 Fan 2", "nct6775 Fan 3", "Fan (pwmfan)"}},
    };
    for (const Case& c : cases) {
        Machine m(c.build);
        std::vector<std::string> names;
        for (const auto& fan : m->readFans()) {
            names.push_back(fan.name);
        }
        EXPECT_EQ(names, c.names) << c.machine;
    }
}

TEST(HwmonFanLimits, WhereEachFansLimitsComeFrom) {
    using Source = FanLimitsSource;
    struct Case {
        const char* machine;
        void (*build)(SysfsFixture&);
        std::vector<FanLimitsInfo> limits;
    };
    const Case cases[] = {
        {"desktop: the card's driver knows, the board's thresholds are alarms",
         testing::nct6775Desktop,
         {{0, "GPU Fan (amdgpu)", 0, 3300, Source::driver, false},
          {1, "nct6775 Fan 1", {}, {}, Source::assumed, true},
          {2, "nct6775 Fan 2", {}, {}, Source::assumed, true},
          {3, "nct6775 Fan 3", {}, {}, Source::assumed, true}}},
        {"applesmc",
         testing::applesmcLaptop,
         {{0, "", 1200, 6200, Source::driver, false}, {1, "", 1200, 6200, Source::driver, false}}},
        {"dell_smm",
         labelledLaptop,
         {{0, "Processor Fan", 0, 4900, Source::driver, false},
          {1, "Video Fan", 0, 4600, Source::driver, false}}},
        {"a closed-loop controller steers itself",
         testing::userTunedDesk,
         {{0, "Fan (max6650)", {}, {}, Source::assumed, false},
          {1, "nct6775 Fan 1", {}, {}, Source::assumed, true},
          {2, "nct6775 Fan 2", {}, {}, Source::assumed, true},
          {3, "nct6775 Fan 3", {}, {}, Source::assumed, true},
          {4, "Fan (pwmfan)", {}, {}, Source::assumed, true}}},
    };
    for (const Case& c : cases) {
        Machine m(c.build);
        EXPECT_EQ(m->fanLimits(), c.limits) << c.machine;
    }
}

TEST(HwmonFanLimits, NoSpeedTakesAnUncalibratedFanBelowItsFloor) {
    Machine m(testing::nct6775Desktop);
    m->writeFanMode(2, FanMode::manual);
    for (float rpm : {0.0f, 63.0f, 300.0f, 1199.0f, 1200.0f, 2000.0f, 6500.0f, 9000.0f}) {
        m->writeFanTargetRPM(2, rpm);
        auto duty = sysfs::readInteger(m.fixture.root() + "/" + board + "pwm2");
        ASSERT_TRUE(duty);
        EXPECT_GE(*duty, uncalibratedFloorDuty) << rpm;
    }
    EXPECT_EQ(m.fixture.read(std::string(board) + "pwm2"), "255");
}

// The desktop with its second board fan turning as a model fan does.
struct CalibrationDesk : Machine {
    CalibrationDesk() : Machine(testing::nct6775Desktop) {
        testing::ModelFan fan;
        fan.stopDuty = 60;
        fan.startDuty = 90;
        model(std::string(board) + "pwm2", std::string(board) + "fan2_input", fan);
        transport->setCalibrationTiming({});
    }
    std::string pwm() const { return fixture.read(std::string(board) + "pwm2"); }
    std::string enable() const { return fixture.read(std::string(board) + "pwm2_enable"); }
    bool remembersATakeover() const {
        return fixture.exists(".ventoral-state") &&
               !sysfs::list(fixture.root() + "/.ventoral-state").empty();
    }
};

TEST(HwmonFanCalibration, MeasuresStoresAndPutsTheFanBack) {
    CalibrationDesk m;
    std::vector<double> progress;
    FanCalibrationOutcome outcome = m->calibrateFan(
        2, {[&](double fraction, const std::string&) { progress.push_back(fraction); }, {}});
    ASSERT_TRUE(outcome.succeeded) << outcome.message;
    EXPECT_EQ(outcome.message.rfind("nct6775 Fan 2: ", 0), 0u) << outcome.message;
    EXPECT_EQ(m.pwm(), "92");
    EXPECT_EQ(m.enable(), "5");
    EXPECT_FALSE(m.remembersATakeover());
    EXPECT_EQ(progress.back(), 1.0);

    auto stored = FanCalibrationStore(FanCalibrationStore::pathFor(m.fixture.root())).load();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_TRUE(stored[0].identifies("/devices/platform/nct6775.656", "nct6775", 2));
    EXPECT_GE(stored[0].startDuty, 90);

    // Read at once by the same process, and by the next one.
    for (int process = 0; process < 2; ++process) {
        auto limits = m->fanLimits()[2];
        EXPECT_EQ(limits.source, FanLimitsSource::measured);
        EXPECT_EQ(limits.minimum, stored[0].minimumRPM);
        EXPECT_EQ(limits.maximum, stored[0].maximumRPM);
        auto fan = m->readFans()[2];
        EXPECT_EQ(fan.minRPM, stored[0].minimumRPM);
        EXPECT_EQ(fan.maxRPM, stored[0].maximumRPM);
        // Presets span the measured range: its slowest speed at the start duty, its fastest
        // at full duty.
        m->writeFanMode(2, FanMode::manual);
        m->writeFanTargetRPM(2, fan.minRPM);
        EXPECT_EQ(m.pwm(), std::to_string(stored[0].startDuty));
        m->writeFanTargetRPM(2, 0);
        EXPECT_EQ(m.pwm(), std::to_string(stored[0].startDuty));
        m->writeFanTargetRPM(2, fan.maxRPM);
        EXPECT_EQ(m.pwm(), "255");
        m->writeFanMode(2, FanMode::automatic);
        m.open();
    }
}

TEST(HwmonFanCalibration, AnotherFansMeasurementIsNotThisOnes) {
    CalibrationDesk m;
    ASSERT_TRUE(m->calibrateFan(2, {}).succeeded);
    const std::string path = FanCalibrationStore::pathFor(m.fixture.root());
    auto stored = FanCalibrationStore(path).load();
    ASSERT_EQ(stored.size(), 1u);
    // The same board after a chip change, and the same chip on another channel.
    FanCalibration otherChip = stored[0];
    otherChip.chip = "nct6798";
    FanCalibration otherChannel = stored[0];
    otherChannel.channel = 7;
    ASSERT_TRUE(sysfs::write(path, encodeFanCalibrations({otherChip, otherChannel})) == 0);
    m.open();
    EXPECT_EQ(m->fanLimits()[2].source, FanLimitsSource::assumed);
    EXPECT_EQ(m->readFans()[2].minRPM, 1200);
}

TEST(HwmonFanCalibration, TroubleStopsItAndPutsTheFanBack) {
    struct Case {
        const char* name;
        std::function<void(CalibrationDesk&)> trouble;
        const char* why;
    };
    const Case cases[] = {
        {"the CPU heats up",
         [](CalibrationDesk& m) {
             m.fixture.write("devices/pci0000:00/0000:00:18.3/hwmon/hwmon0/temp1_input", "86000");
         },
         "the CPU reached 86 \u00B0C"},
        {"the reading vanishes",
         [](CalibrationDesk& m) { m.fixture.remove(std::string(board) + "fan2_input"); },
         "its speed reading disappeared"},
    };
    for (const Case& c : cases) {
        CalibrationDesk m;
        int waits = 0;
        m.onEachWait = [&] {
            if (++waits == 20) {
                c.trouble(m);
            }
        };
        FanCalibrationOutcome outcome = m->calibrateFan(2, {});
        EXPECT_FALSE(outcome.succeeded) << c.name;
        EXPECT_EQ(outcome.message,
                  std::string("nct6775 Fan 2: calibration stopped: ") + c.why + ".")
            << c.name;
        EXPECT_EQ(m.pwm(), "92") << c.name;
        EXPECT_EQ(m.enable(), "5") << c.name;
        EXPECT_FALSE(m.remembersATakeover()) << c.name;
        EXPECT_FALSE(m.fixture.exists(".ventoral-lib/fan-calibration.json")) << c.name;
    }
}

TEST(HwmonFanCalibration, AHandBackMeanwhileIsNotUndone) {
    CalibrationDesk m;
    m->writeFanMode(2, FanMode::manual);
    m->writeFanTargetRPM(2, 3000);
    int waits = 0;
    m.onEachWait = [&] {
        if (++waits == 10) {
            EXPECT_FALSE(m->resetAllFansToAutomatic()); // the application quit, say
        }
    };
    ASSERT_TRUE(m->calibrateFan(2, {}).succeeded);
    EXPECT_EQ(m.enable(), "5");
    EXPECT_EQ(m.pwm(), "92");
    EXPECT_FALSE(m.remembersATakeover());
}

TEST(HwmonFanCalibration, AnotherProcesssMeasurementIsSeenAtOnce) {
    CalibrationDesk m;
    EXPECT_EQ(m->fanLimits()[2].source, FanLimitsSource::assumed);
    auto helper = m.makeTransport(); // as the helper's own process would measure it
    helper->setCalibrationTiming({});
    ASSERT_TRUE(helper->calibrateFan(2, {}).succeeded);
    EXPECT_EQ(m->fanLimits()[2].source, FanLimitsSource::measured);
    EXPECT_NE(m->readFans()[2].minRPM, 1200);
}

TEST(HwmonFanCalibration, NotWithoutACPUTemperatureToStopOn) {
    Machine m([](SysfsFixture& f) {
        f.hwmon(2, "platform/nct6775.656", "nct6775",
                {{"fan1_input", "900"}, {"pwm1", "92"}, {"pwm1_enable", "5"}});
    });
    EXPECT_EQ(m->calibrateFan(0, {}),
              (FanCalibrationOutcome{
                  false, "Fan (nct6775): not calibrated: no CPU temperature can be watched "
                         "meanwhile"}));
    EXPECT_EQ(m.fixture.read("devices/platform/nct6775.656/hwmon/hwmon2/pwm1_enable"), "5");
}

TEST(HwmonFanCalibration, AFanItHeldStaysHeldAndFansThatNeedNoneAreRefused) {
    CalibrationDesk m;
    m->writeFanMode(2, FanMode::manual);
    m->writeFanTargetRPM(2, 3000);
    const std::string held = m.pwm();
    ASSERT_TRUE(m->calibrateFan(2, {}).succeeded);
    EXPECT_EQ(m.pwm(), held);
    EXPECT_EQ(m.enable(), "1");
    EXPECT_TRUE(m.remembersATakeover()); // its hand-back still goes to the board's mode 5
    m->writeFanMode(2, FanMode::automatic);
    EXPECT_EQ(m.enable(), "5");

    const std::pair<std::int64_t, const char*> refused[] = {
        {0, "GPU Fan (amdgpu) needs no calibration: its driver gives its limits"},
        {9, "There is no fan 9"},
    };
    for (auto [index, message] : refused) {
        EXPECT_EQ(m->calibrateFan(index, {}), (FanCalibrationOutcome{false, message}));
    }
}

} // namespace
} // namespace ventoral

namespace ventoral {
namespace {

TEST(FanCalibrationDocument, ADamagedEntryCostsOnlyItsOwnFan) {
    const FanCalibration good{"/devices/platform/nct6775.656",      "nct6775", 1, 48, 64, 410, 1850,
                              {{64, 410}, {128, 1100}, {255, 1850}}};
    const FanCalibration neverStops{
        "/devices/platform/nct6775.656", "nct6775", 3, std::nullopt, 70, 600, 1500,
        {{70, 600}, {255, 1500}}};
    EXPECT_EQ(decodeFanCalibrations(encodeFanCalibrations({good, neverStops})),
              (std::vector<FanCalibration>{good, neverStops}));

    const std::string damaged[] = {
        R"({"device":"/d","chip":"c","channel":2,"stopDuty":null,"startDuty":300,)"
        R"("minimumRPM":1,"maximumRPM":2,"points":[]})",
        R"({"device":"/d","chip":"c","channel":2,"stopDuty":null,"startDuty":30,)"
        R"("minimumRPM":900,"maximumRPM":200,"points":[]})",
        R"({"device":"/d","chip":"c","channel":2,"stopDuty":null,"startDuty":30,)"
        R"("minimumRPM":100,"maximumRPM":200,"points":[[30]]})",
        R"({"device":"/d","chip":"c"})",
        R"("a fan")",
    };
    for (const std::string& entry : damaged) {
        const std::string document = encodeFanCalibrations({good});
        const std::string withDamage = document.substr(0, document.rfind(']')) + "," + entry + "]}";
        EXPECT_EQ(decodeFanCalibrations(withDamage), (std::vector<FanCalibration>{good})) << entry;
    }
    for (const char* notADocument : {"", "[]", R"({"fans":{}})", "{\"fans\":[", "null"}) {
        EXPECT_THROW(decodeFanCalibrations(notADocument), DecodingError) << notADocument;
    }
}

} // namespace
} // namespace ventoral
