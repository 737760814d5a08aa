#include "application/engine/FanViewModel.h"

#include "application/menubar/TrioMenuBarIconRenderer.h"
#include "core/common/DefaultsStore.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/smc/EmulatedSmcTransport.h"
#include "tests/support/SysfsFixture.h"

#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace std::chrono_literals;
using Key = EmulatedSmcTransport::Key;
using Selection = ActivePresetSelection;

Key number(const std::string& type, double value, bool writable = false) {
    std::size_t size = type == "flt " ? 4 : type == "ui8 " ? 1 : 2;
    return {type, EmulatedSmcTransport::encodeNumber(value, type, size), writable, false, 0};
}

class FakeWriter final : public FanWriter {
public:
    PrivilegedWriteMode status = PrivilegedWriteMode::privilegedHelper;
    std::vector<std::string> calls;
    WriteResult outcome;                 // what every write ends with
    std::vector<WriteCompletion> parked; // writes left running when `hold` is set
    bool hold = false;
    int restores = 0, syncRestores = 0, lowPowerCalls = 0, authorizations = 0;
    void finish(WriteCompletion done) {
        if (hold) {
            parked.push_back(std::move(done));
        } else {
            done(outcome);
        }
    }
    PrivilegedWriteMode checkPrivilegeStatus() const override { return status; }
    void setFanRPM(std::int64_t index, float rpm, WriteCompletion done) override {
        calls.push_back("rpm " + std::to_string(index) + " " + std::to_string(int(rpm)));
        finish(std::move(done));
    }
    void setFanMode(std::int64_t index, FanMode mode, WriteCompletion done) override {
        calls.push_back("mode " + std::to_string(index) + " " +
                        std::to_string(static_cast<int>(mode)));
        finish(std::move(done));
    }
    void restoreAllFansToAuto(WriteCompletion done) override {
        ++restores;
        if (done) {
            done(std::nullopt);
        }
    }
    void restoreAllFansToAutoSynchronously(double) override { ++syncRestores; }
    void authorize(WriteCompletion done) override {
        ++authorizations;
        finish(std::move(done));
    }
    void setLowPowerMode(bool, WriteCompletion done) override {
        ++lowPowerCalls;
        finish(std::move(done));
    }
};

// A curve from 30 % at 40 °C to 70 % at 90 °C on the CPU average.
CustomCurvePreset testCurve() {
    return CustomCurvePreset(
        Uuid::random(), "Test", TargetSensorBinding::cpuAverage,
        {CurveControlPoint(Uuid::random(), 40, 30), CurveControlPoint(Uuid::random(), 90, 70)},
        true);
}

struct Sources final : PowerSourceProvider {
    std::optional<std::vector<LooseDictionary>> powerSourceDescriptions() override {
        return descriptions;
    }
    std::optional<LooseDictionary> externalAdapterDetails() override { return std::nullopt; }
    LooseDictionary batteryRegistry() override { return {}; }
    std::optional<std::vector<LooseDictionary>> descriptions;
};

struct Monitor final : PowerSourceMonitor {
    std::function<void()> onChange;
    bool start(std::function<void()> callback) override {
        onChange = std::move(callback);
        return true;
    }
};

// An engine over an emulated two-fan machine (fan 0: 1200–6000, fan 1: 1000–5000), a fake
// writer, a power service over fake sources and a clock the test moves.
struct Rig {
    explicit Rig(int fanCount = 2, bool autoStart = true) {
        std::map<std::string, Key> keys{
            {"FNum", number("ui8 ", fanCount)},   {"F0Ac", number("flt ", 2150)},
            {"F0Mn", number("flt ", 1200)},       {"F0Mx", number("flt ", 6000)},
            {"F0Tg", number("flt ", 2150, true)}, {"F0Md", number("ui8 ", 0, true)},
            {"F1Ac", number("flt ", 2150)},       {"F1Mn", number("flt ", 1000)},
            {"F1Mx", number("flt ", 5000)},       {"F1Tg", number("flt ", 2150, true)},
            {"F1Md", number("ui8 ", 0, true)},    {"TC0P", number("flt ", 61.6)},
            {"PSTR", number("flt ", 14)}};
        auto t = std::make_unique<EmulatedSmcTransport>(keys, true);
        transport = t.get();
        smc = std::make_unique<SMCService>(std::move(t), nullptr, [this] { return clock; });
        SimulationHost host;
        host.now = [this] { return clock; };
        sim = std::make_unique<FanSimulationService>(host);
        PowerBatteryPlatform p;
        p.powerSources = sources;
        p.monitor = monitor;
        p.readPowerSensors = [this] { return smc->readPowerAndBatterySensors(); };
        p.readSystemPowerScalar = [this] { return systemWatts; };
        p.isLowPowerModeEnabled = [this] { return systemLowPower; };
        p.now = [this] { return clock; };
        power = PowerBatteryService::make(p);
        presets = std::make_unique<FanPresetManager>(store);
        FanViewModelCollaborators c(*smc, *sim, *power, *presets, writer);
        c.now = [this] { return clock; };
        c.systemUptime = [] { return 100.0; };
        c.systemIsDark = [] { return false; };
        c.screenScale = [] { return 2.0; };
        c.isLowPowerModeEnabled = [this] { return systemLowPower; };
        c.subscribeToPowerState = [this](std::function<void(bool)> f) { powerState = f; };
        engine = std::make_unique<FanViewModel>(std::move(c), autoStart);
    }
    void set(const std::string& key, double value) {
        auto k = transport->key(key);
        transport->setKey(key, number(k->type, value, k->writable));
    }
    void noLiveMenuBarValues() {
        MenuBarDisplaySettings quiet;
        quiet.showCPUTemp = false;
        engine->updateMenuBarSettings(quiet);
    }

    TimePoint clock = TimePoint(1'800'000'000s);
    std::optional<double> systemWatts = 14;
    EmulatedSmcTransport* transport = nullptr;
    std::unique_ptr<SMCService> smc;
    std::unique_ptr<FanSimulationService> sim;
    std::shared_ptr<Sources> sources = std::make_shared<Sources>();
    std::shared_ptr<Monitor> monitor = std::make_shared<Monitor>();
    std::shared_ptr<PowerBatteryService> power;
    std::shared_ptr<InMemoryDefaultsStore> store = std::make_shared<InMemoryDefaultsStore>();
    std::unique_ptr<FanPresetManager> presets;
    FakeWriter writer;
    std::unique_ptr<FanViewModel> engine;
    bool systemLowPower = false;
    std::function<void(bool)> powerState;
};

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

int writes(const FakeWriter& w, const std::string& prefix) {
    return static_cast<int>(std::count_if(w.calls.begin(), w.calls.end(),
                                          [&](const auto& c) { return c.rfind(prefix, 0) == 0; }));
}

// Fan 0 under fixed manual speeds, unlinked, so each test moves it alone.
struct PipelineRig : Rig {
    PipelineRig() {
        engine->toggleLinkedManualControl();
        engine->setManualRPM(0, 3000);
        writer.calls.clear();
    }
};

TEST(FanWritePipeline, SkipsWhatIsAlreadyInPlace) {
    PipelineRig rig;
    rig.engine->evaluatePresetRules(false);
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 0); // the same target again
    rig.engine->setManualRPM(0, 3014);
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 0);
    rig.engine->setManualRPM(0, 3015);
    EXPECT_EQ(writes(rig.writer, "rpm 0 3015"), 1);

    // The fan still reports automatic (the fake writer touches no hardware): after 3 s the
    // state is asserted again.
    rig.clock += 2s;
    rig.engine->pollTelemetry(true);
    rig.engine->evaluatePresetRules(false);
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 1);
    rig.clock += 2s;
    rig.engine->evaluatePresetRules(false);
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 2);

    // Back to Auto: written at once, then only if the fan still reports manual 3 s later.
    rig.engine->selectPreset(Selection::builtin(BuiltinPresetType::automatic));
    EXPECT_EQ(writes(rig.writer, "mode 0 0"), 1);
    rig.engine->evaluatePresetRules(false);
    EXPECT_EQ(writes(rig.writer, "mode 0 0"), 1);
    rig.set("F0Md", 1);
    rig.clock += 4s;
    rig.engine->pollTelemetry(true);
    rig.engine->evaluatePresetRules(false);
    EXPECT_EQ(writes(rig.writer, "mode 0 0"), 2);
}

TEST(FanWritePipeline, ABusyFanKeepsOnlyTheNewestWish) {
    struct Case {
        float newest; // the last wish while 2000 is being written
        int writes;
        const char* lastWrite;
    };
    const Case cases[] = {
        {3300, 2, "rpm 0 3300"}, // once, the newest
        {2003, 1, "rpm 0 2000"}, // within 5 RPM of what was written
    };
    for (const auto& c : cases) {
        PipelineRig rig;
        rig.writer.hold = true;
        rig.engine->setManualRPM(0, 2000); // in flight
        rig.engine->setManualRPM(0, 3100);
        rig.engine->setManualRPM(0, 3200);
        rig.engine->setManualRPM(0, c.newest);
        EXPECT_EQ(rig.engine->inFlightFanWrites().count(0), 1u);
        EXPECT_EQ(writes(rig.writer, "rpm 0"), 1);
        rig.writer.hold = false;
        auto first = rig.writer.parked.front();
        rig.writer.parked.erase(rig.writer.parked.begin());
        first(std::nullopt);
        EXPECT_EQ(writes(rig.writer, "rpm 0"), c.writes) << c.newest;
        EXPECT_EQ(rig.writer.calls.back(), c.lastWrite) << c.newest;
        EXPECT_TRUE(rig.engine->pendingFanWrites().empty()) << c.newest;
    }
}

TEST(FanWritePipeline, WithoutPrivilegesWritesStop) {
    PipelineRig rig;
    rig.writer.outcome = SMCError::privilegedRequired();
    rig.writer.status = PrivilegedWriteMode::unauthorized; // and no route appears later
    rig.engine->setManualRPM(0, 3500);
    EXPECT_FALSE(rig.engine->isAuthorized());
    EXPECT_TRUE(rig.engine->sudoFallbackConfirmedUnavailable());
    EXPECT_EQ(rig.engine->lastErrorMessage(), EngineText::authorizationRequired);
    rig.engine->clearError();
    const auto calls = rig.writer.calls.size();
    rig.engine->telemetryTick();
    EXPECT_EQ(rig.writer.calls.size(), calls); // nothing written
    EXPECT_EQ(rig.engine->lastErrorMessage(), std::nullopt);
    rig.engine->setManualRPM(0, 3600); // a user's manual choice says why again
    EXPECT_EQ(rig.writer.calls.size(), calls);
    EXPECT_EQ(rig.engine->lastErrorMessage(), EngineText::authorizationRequired);
}

TEST(FanWritePipeline, ErrorMapping) {
    struct Case {
        SMCError error;
        bool authorization;
        std::string message;
    };
    const Case cases[] = {
        {SMCError::privilegedRequired(), true, EngineText::authorizationRequired},
        {SMCError::platform("sudo: a password is required"), true,
         EngineText::authorizationRequired},
        {SMCError::platform("missing privilege"), true, EngineText::authorizationRequired},
        {SMCError::platform("Password prompt"), false, "Password prompt"},
        {SMCError::writeFailed("Invalid fan index or RPM value"), false,
         "Failed to write SMC key: Invalid fan index or RPM value"},
        {SMCError::writeFailed("no password here"), false,
         "Failed to write SMC key: no password here"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.engine->handleWriteError(c.error);
        EXPECT_EQ(rig.engine->sudoFallbackConfirmedUnavailable(), c.authorization) << c.message;
        EXPECT_EQ(rig.engine->isAuthorized(), !c.authorization) << c.message;
        EXPECT_EQ(rig.engine->lastErrorMessage(), c.message);
    }
}

TEST(EngineAuthorization, OneRequestAtATimeAndEveryFanWrittenAgain) {
    PipelineRig rig;
    rig.writer.hold = true;
    rig.engine->requestAuthorization();
    rig.engine->requestAuthorization();
    EXPECT_EQ(rig.writer.authorizations, 1);
    EXPECT_TRUE(rig.engine->isAuthorizing());
    rig.writer.hold = false;
    const auto before = writes(rig.writer, "rpm 0 3000");
    auto done = rig.writer.parked.front();
    rig.writer.parked.clear();
    done(std::nullopt);
    EXPECT_FALSE(rig.engine->isAuthorizing());
    EXPECT_EQ(writes(rig.writer, "rpm 0 3000"), before + 1); // the same state, written again

    Rig refused;
    refused.writer.outcome = SMCError::writeFailed("The administrator prompt was dismissed.");
    refused.engine->requestAuthorization();
    EXPECT_EQ(refused.engine->lastErrorMessage(),
              "Failed to write SMC key: The administrator prompt was dismissed.");
}

TEST(EngineLowPowerMode, SimulationHardwareAndFailure) {
    Rig simulated(0);
    simulated.engine->toggleLowPowerMode();
    EXPECT_TRUE(simulated.engine->batteryState().isLowPowerMode);
    EXPECT_EQ(simulated.writer.lowPowerCalls, 0);
    EXPECT_TRUE(simulated.sim->model().lowPowerMode);

    Rig failing;
    failing.writer.outcome = SMCError::writeFailed("no profile");
    failing.engine->setLowPowerMode(true);
    EXPECT_FALSE(failing.engine->batteryState().isLowPowerMode); // put back
    EXPECT_FALSE(failing.engine->isTogglingLowPowerMode());
    EXPECT_EQ(failing.engine->lastErrorMessage(), "Failed to write SMC key: no profile");

    Rig working;
    working.systemLowPower = true;
    working.engine->setLowPowerMode(true);
    EXPECT_TRUE(working.engine->batteryState().isLowPowerMode);
    working.powerState(false); // the system says otherwise later
    EXPECT_FALSE(working.engine->batteryState().isLowPowerMode);
}

TEST(EngineSimulationSwitch, LeavingHardwareHandsTheFansBack) {
    PipelineRig rig;
    rig.engine->toggleSimulationMode();
    EXPECT_EQ(rig.writer.restores, 1);
    EXPECT_TRUE(rig.engine->isSimulatedMode());
    EXPECT_EQ(rig.engine->privilegeStatus(), PrivilegedWriteMode::simulationOnly);
    EXPECT_TRUE(rig.engine->lastWrittenState().empty());
    rig.engine->toggleSimulationMode();
    EXPECT_FALSE(rig.engine->isSimulatedMode());
    EXPECT_EQ(rig.engine->privilegeStatus(), PrivilegedWriteMode::privilegedHelper);
}

TEST(EngineTermination, OnceAndOnlyWithFans) {
    Rig rig;
    rig.engine->handleTermination();
    rig.engine->handleTermination();
    EXPECT_EQ(rig.writer.syncRestores, 1);
    EXPECT_FALSE(rig.engine->isTelemetryActive());
    Rig fanless(0);
    fanless.engine->handleTermination();
    EXPECT_EQ(fanless.writer.syncRestores, 0);
}

} // namespace
} // namespace ventoral
