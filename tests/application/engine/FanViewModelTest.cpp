#include "application/engine/FanViewModel.h"

#include "application/menubar/TrioMenuBarIconRenderer.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "tests/application/engine/EngineRig.h"
#include "tests/support/SysfsFixture.h"

#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace testing;
using namespace std::chrono_literals;

TEST(FanViewModelLoop, IntervalRule) {
    Rig simulated(0);
    EXPECT_TRUE(simulated.engine->isSimulatedMode());
    EXPECT_EQ(simulated.engine->privilegeStatus(), PrivilegedWriteMode::simulationOnly);
    EXPECT_TRUE(simulated.engine->isAuthorized());
    simulated.noLiveMenuBarValues();
    EXPECT_EQ(simulated.engine->scheduledInterval(), 3.5);

    Rig real;
    EXPECT_FALSE(real.engine->isSimulatedMode());
    EXPECT_EQ(real.engine->scheduledInterval(), 3.5); // the initial settings show the CPU
    real.noLiveMenuBarValues();
    EXPECT_EQ(real.engine->scheduledInterval(), 6.0);
    EXPECT_EQ(real.engine->timerTolerance(), 1.5);
    ASSERT_TRUE(real.engine->timer());
    EXPECT_EQ(real.engine->timer()->interval(), 6000);
    real.engine->selectPreset(Selection::builtin(BuiltinPresetType::silent));
    EXPECT_EQ(real.engine->scheduledInterval(), 3.5);
    real.engine->selectPreset(Selection::builtin(BuiltinPresetType::automatic));

    QSignalSpy fans(real.engine.get(), &FanViewModel::fansChanged);
    real.set("F0Ac", 2500);
    real.engine->setPopoverVisible(true); // one full poll at once
    EXPECT_EQ(fans.count(), 1);
    EXPECT_EQ(real.engine->scheduledInterval(), 2.0);
    real.engine->setPopoverBatteryDetailsVisible(true);
    EXPECT_TRUE(real.engine->needsTopEnergyApps());
    real.engine->setPopoverVisible(false);
    EXPECT_FALSE(real.engine->isPopoverShowingBatteryDetails());
    EXPECT_EQ(real.engine->scheduledInterval(), 6.0);

    QTimer* before = real.engine->timer();
    real.engine->rescheduleTimerIfNeeded();
    EXPECT_EQ(real.engine->timer(), before); // nothing to change: the same timer
    real.engine->stopTelemetry();
    EXPECT_EQ(real.engine->scheduledInterval(), 0);
    EXPECT_EQ(real.engine->timer(), nullptr);
}

TEST(FanViewModelLoop, PowerHistory) {
    Rig rig;
    rig.engine->setDashboardVisible(true); // every poll full
    const std::size_t start = rig.engine->powerHistory().size();
    for (int i = 0; i < 70; ++i) {
        rig.clock += 2s;
        rig.engine->telemetryTick();
    }
    ASSERT_EQ(rig.engine->powerHistory().size(), 60u);
    EXPECT_GT(start, 0u);
    EXPECT_EQ(rig.engine->powerHistory().back().systemWatts, 14);
    EXPECT_EQ(rig.engine->powerHistory().front().timestamp, rig.clock - 2s * 59);

    Rig quiet;
    quiet.transport->removeKey("PSTR");
    // On external power with no adapter reading: no system, adapter or battery figure at all.
    quiet.sources->descriptions =
        std::vector<LooseDictionary>{{{"Power Source State", "AC Power"}}};
    quiet.engine->setDashboardVisible(true);
    const std::size_t before = quiet.engine->powerHistory().size();
    quiet.engine->pollTelemetry(true);
    EXPECT_EQ(quiet.engine->powerHistory().size(), before); // nothing to record
}

TEST(FanViewModelLoop, LightPollPublishesOnlyChanges) {
    Rig rig;
    MenuBarDisplaySettings settings;
    settings.showCPUTemp = false;
    settings.showPowerWatts = true;
    rig.engine->updateMenuBarSettings(settings);
    QSignalSpy fans(rig.engine.get(), &FanViewModel::fansChanged);
    QSignalSpy battery(rig.engine.get(), &FanViewModel::batteryStateChanged);
    QSignalSpy power(rig.engine.get(), &FanViewModel::powerTelemetryChanged);
    QSignalSpy sensors(rig.engine.get(), &FanViewModel::sensorsChanged);
    rig.engine->pollTelemetry(false);
    EXPECT_EQ(fans.count() + battery.count() + power.count(), 0);
    rig.systemWatts = 20;
    auto before = rig.engine->powerTelemetry();
    rig.engine->pollTelemetry(false);
    EXPECT_EQ(power.count(), 1);
    EXPECT_EQ(fans.count() + battery.count() + sensors.count(), 0);
    before.systemWatts = 20;
    EXPECT_EQ(rig.engine->powerTelemetry(), before); // that field alone
}

TEST(FanViewModelLoop, PowerSourceChangesPollWhileRunningAndNotAfter) {
    Rig rig;
    ASSERT_TRUE(rig.monitor->onChange);
    QSignalSpy battery(rig.engine.get(), &FanViewModel::batteryStateChanged);
    rig.sources->descriptions = std::vector<LooseDictionary>{{{"Type", "InternalBattery"},
                                                              {"Is Present", true},
                                                              {"Power Source State", "AC Power"},
                                                              {"Current Capacity", 40},
                                                              {"Max Capacity", 100}}};
    rig.monitor->onChange(); // no main-thread executor installed: it runs at once
    EXPECT_EQ(battery.count(), 1);
    EXPECT_EQ(rig.engine->batteryState().percentage, 40);
    rig.engine->stopTelemetry();
    rig.sources->descriptions->front().insert_or_assign("Current Capacity", 41);
    rig.monitor->onChange();
    EXPECT_EQ(battery.count(), 1); // stopped: ignored
    auto callback = rig.monitor->onChange;
    rig.engine.reset();
    callback(); // the engine is gone: ignored, and no crash
}

TEST(FanViewModelLoop, PrivilegeRecheckAuthorizes) {
    Rig rig;
    rig.writer.status = PrivilegedWriteMode::unauthorized;
    rig.engine->checkHardware();
    EXPECT_FALSE(rig.engine->isAuthorized());
    rig.writer.status = PrivilegedWriteMode::xpcDaemon;
    rig.engine->telemetryTick();
    EXPECT_TRUE(rig.engine->isAuthorized());
    EXPECT_EQ(rig.engine->privilegeStatus(), PrivilegedWriteMode::xpcDaemon);
}

TEST(FanViewModelWatchdog, Cases) {
    struct Case {
        const char* name;
        Selection selection;
        bool authorized;
        double celsius;
        double fan0RPM, fan1RPM; // ranges 1200–6000 and 1000–5000
        bool trips;
    };
    const CustomCurvePreset curve = testCurve();
    const Selection custom = Selection::custom(curve.id);
    const Case cases[] = {
        {"curve at 95.0, fans at half", custom, true, 95.0, 3600, 3000, true},
        {"curve at 94.9", custom, true, 94.9, 3600, 3000, false},
        {"fans already high", custom, true, 97, 5300, 4400, false},
        {"one fan not high", custom, true, 97, 5300, 3000, true},
        {"Max, authorized", Selection::builtin(BuiltinPresetType::max), true, 97, 3000, 3000,
         false},
        {"Max, unauthorized", Selection::builtin(BuiltinPresetType::max), false, 97, 3000, 3000,
         true},
        {"Auto", Selection::builtin(BuiltinPresetType::automatic), true, 99, 3000, 3000, false},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.engine->saveCustomPreset(curve);
        rig.writer.status = c.authorized ? PrivilegedWriteMode::privilegedHelper
                                         : PrivilegedWriteMode::unauthorized;
        if (!c.authorized) {
            rig.writer.outcome = SMCError::privilegedRequired(); // every route refuses
        }
        rig.engine->checkHardware();
        rig.engine->selectPreset(c.selection);
        rig.set("F0Ac", c.fan0RPM);
        rig.set("F1Ac", c.fan1RPM);
        rig.set("TC0P", c.celsius);
        rig.engine->pollTelemetry(true);
        EXPECT_EQ(rig.engine->isSafetyTripped(), c.trips) << c.name;
        if (c.trips) {
            EXPECT_EQ(rig.engine->activeSelection(),
                      Selection::builtin(BuiltinPresetType::automatic));
        }
    }
    Rig rig;
    rig.engine->saveCustomPreset(curve);
    rig.engine->selectPreset(custom);
    rig.set("TC0P", 95.0);
    rig.engine->pollTelemetry(true);
    EXPECT_EQ(rig.engine->safetyMessage(),
              "Thermal Watchdog: CPU hit 95.0\u00B0C! Restoring Auto cooling.");
    rig.set("TC0P", 90);
    rig.engine->pollTelemetry(true);
    EXPECT_TRUE(rig.engine->isSafetyTripped()); // hysteresis
    rig.set("TC0P", 87.9);
    rig.engine->pollTelemetry(true);
    EXPECT_FALSE(rig.engine->isSafetyTripped());
    EXPECT_EQ(rig.engine->safetyMessage(), std::nullopt);
}

TEST(FanViewModelManual, SpeedsAndLinking) {
    Rig rig;
    rig.engine->setManualRPM(0, 9000);
    EXPECT_EQ(rig.engine->manualRPM().at(0), 6000);
    EXPECT_EQ(rig.engine->manualRPM().at(1), 5000);
    EXPECT_EQ(rig.engine->activeSelection(), Selection::manualFixed());
    EXPECT_EQ(rig.writer.calls.back(), "rpm 1 5000"); // written at once
    rig.engine->setManualRPM(0, 3600);
    EXPECT_EQ(rig.engine->manualRPM().at(0), 3600);
    EXPECT_EQ(rig.engine->manualRPM().at(1), 3000);
    EXPECT_EQ(rig.presets->savedManualRPM().at(1), 3000);
    auto before = rig.engine->manualRPM();
    rig.engine->setManualRPM(0, std::nanf(""));
    EXPECT_EQ(rig.engine->manualRPM(), before);
    rig.engine->toggleLinkedManualControl();
    rig.engine->setManualRPM(0, 2000);
    EXPECT_EQ(rig.engine->manualRPM().at(1), 3000); // unlinked: fan 1 stays

    FanInfo pinned;
    pinned.id = 7;
    pinned.minRPM = 1200;
    pinned.maxRPM = 1200;
    pinned.currentRPM = 1500;
    Rig automatic;
    EXPECT_EQ(automatic.engine->sliderRPM(pinned), 1201);
    pinned.currentRPM = 1100;
    EXPECT_EQ(automatic.engine->sliderRPM(pinned), 1200);
}

TEST(FanViewModelManual, SelectingACurveReadsTemperaturesFirst) {
    Rig rig;
    rig.noLiveMenuBarValues(); // light polls under Auto read no temperatures
    rig.engine->pollTelemetry(false);
    ASSERT_TRUE(rig.engine->latestSnapshot());
    EXPECT_TRUE(rig.engine->latestSnapshot()->sensors.empty());
    rig.set("TC0P", 80);
    const CustomCurvePreset curve = testCurve();
    rig.engine->saveCustomPreset(curve);
    rig.engine->selectPreset(Selection::custom(curve.id));
    EXPECT_FALSE(rig.engine->latestSnapshot()->sensors.empty());
    EXPECT_NEAR(rig.engine->cpuTemperature(), 80, 1e-4);
}

TEST(FanViewModelRules, SimulatedFansFollowEveryPresetKind) {
    Rig rig(0);
    rig.engine->selectPreset(Selection::builtin(BuiltinPresetType::max));
    for (const FanInfo& fan : rig.sim->readFans()) {
        EXPECT_EQ(fan.mode, FanMode::manual);
        EXPECT_EQ(fan.targetRPM, fan.maxRPM);
    }
    rig.engine->selectPreset(Selection::builtin(BuiltinPresetType::automatic));
    for (const FanInfo& fan : rig.sim->readFans()) {
        EXPECT_EQ(fan.mode, FanMode::automatic);
    }
    rig.engine->setManualRPM(0, 3000);
    EXPECT_EQ(rig.sim->readFans()[0].targetRPM, 3000);
    for (int i = 0; i < 20; ++i) {
        rig.clock += 1s;
        rig.engine->telemetryTick();
    }
    EXPECT_GT(rig.engine->fans()[0].currentRPM, 2000); // the simulated fan ramps to it
}

TEST(FanViewModelRules, EveryPresetKindReachesTheSimulatedFans) {
    Rig rig(0);
    const CustomCurvePreset curve = testCurve();
    rig.engine->saveCustomPreset(curve);
    std::vector<Selection> selections;
    for (BuiltinPresetType type : allBuiltinPresetTypes) {
        selections.push_back(Selection::builtin(type));
    }
    selections.push_back(Selection::custom(curve.id));
    for (const Selection& selection : selections) {
        rig.engine->selectPreset(selection);
        const TelemetrySnapshot snapshot = *rig.engine->latestSnapshot();
        const auto simulated = rig.sim->readFans();
        ASSERT_EQ(simulated.size(), rig.engine->fans().size());
        for (std::size_t i = 0; i < simulated.size(); ++i) {
            const FanInfo& f = rig.engine->fans()[i];
            auto want = rig.presets->evaluateTargetRPM(f, snapshot);
            EXPECT_EQ(simulated[i].mode, want.mode) << selection.title();
            if (want.mode == FanMode::manual) {
                EXPECT_EQ(simulated[i].targetRPM,
                          std::max(std::min(want.targetRPM, f.maxRPM), f.minRPM))
                    << selection.title();
            }
        }
    }
}

TEST(FanViewModelLoop, RunsOnAFixtureMachineAndTheTimerTicks) {
    testing::SysfsFixture desktop;
    testing::nct6775Desktop(desktop);
    SMCService smc(std::make_unique<HwmonSmcTransport>(
        desktop.root(), FanControlMemory::folderFor(desktop.root())));
    FanSimulationService sim;
    PowerBatteryPlatform p;
    p.readPowerSensors = [&] { return smc.readPowerAndBatterySensors(); };
    p.now = systemWallClock();
    auto power = PowerBatteryService::make(p);
    FanPresetManager presets(std::make_shared<InMemoryDefaultsStore>());
    FakeWriter writer;
    FanViewModelCollaborators c(smc, sim, *power, presets, writer);
    FanViewModel engine(std::move(c), true);
    EXPECT_FALSE(engine.isSimulatedMode());
    EXPECT_EQ(engine.hardwareFanCount(), 4);
    EXPECT_EQ(engine.fans().size(), 4u);
    EXPECT_NEAR(engine.cpuTemperature(), 48.25, 0.01); // Tctl

    engine.setPopoverVisible(true); // every 2 s
    desktop.write("devices/platform/nct6775.656/hwmon/hwmon2/fan1_input", "1500");
    QSignalSpy fans(&engine, &FanViewModel::fansChanged);
    EXPECT_TRUE(fans.wait(3000)); // the timer fired and the poll saw the change
    EXPECT_EQ(engine.fans()[1].currentRPM, 1500);
}

TEST(FanViewModelReadouts, AveragesLabelAndImage) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Rig rig;
    MenuBarDisplaySettings settings;
    settings.showRPM = true;
    rig.set("F0Ac", 3600); // 50 % of 1200–6000
    rig.set("F1Ac", 3000); // 50 % of 1000–5000
    rig.engine->updateMenuBarSettings(settings);
    rig.engine->pollTelemetry(true);
    EXPECT_EQ(rig.engine->averageFanPercentage(), 50);
    EXPECT_EQ(rig.engine->menuBarLabelText(), "50% \u2022 3,300 RPM \u2022 62\u00B0C");
    settings = {};
    settings.showIcon = false;
    settings.showPercentage = false;
    settings.showCPUTemp = false;
    rig.engine->updateMenuBarSettings(settings);
    EXPECT_TRUE(rig.engine->menuBarSettings().showIcon); // never all off
    EXPECT_EQ(rig.engine->menuBarLabelText(), "");
    EXPECT_EQ(rig.engine->menuBarTrioKey(9.6, true).pointSize, 12);
    EXPECT_EQ(rig.engine->menuBarTrioKey(16.4, true).pointSize, 16);
    // The icon of the engine's own state, 22 points at the screen's scale of 2 drawn twice over.
    auto image = rig.engine->menuBarTrioImage(22, false);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(88, 88));
    EXPECT_EQ(image->devicePixelRatio(), 4);
    EXPECT_EQ(*image,
              *TrioMenuBarIconRenderer::rasterize(rig.engine->menuBarTrioKey(22, false), 2));

    EXPECT_EQ(rig.engine->batteryTemperature(), 32.0); // no battery reading or sensor

    Rig none;
    none.transport->removeKey("FNum"); // the fans vanish
    none.engine->pollTelemetry(true);
    EXPECT_TRUE(none.engine->fans().empty());
    EXPECT_EQ(none.engine->averageRPM(), 0);
    EXPECT_EQ(none.engine->averageMinRPM(), 1200);
    EXPECT_EQ(none.engine->averageMaxRPM(), 6500);
    EXPECT_EQ(none.engine->averageFanPercentage(), 0);
}

} // namespace
} // namespace ventoral
