#pragma once

#include "application/engine/FanViewModel.h"
#include "core/common/DefaultsStore.h"
#include "platform/smc/EmulatedSmcTransport.h"

#include <gtest/gtest.h>

namespace ventoral::testing {

using namespace std::chrono_literals;
using Key = EmulatedSmcTransport::Key;
using Selection = ActivePresetSelection;

inline Key number(const std::string& type, double value, bool writable = false) {
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
    // A calibration stays running until the test reports on it.
    CalibrationProgress calibrationProgress;
    CalibrationCompletion calibrationDone;
    void calibrateFan(std::int64_t index, CalibrationProgress progress,
                      CalibrationCompletion done) override {
        calls.push_back("calibrate " + std::to_string(index));
        calibrationProgress = std::move(progress);
        calibrationDone = std::move(done);
    }
};

// A curve from 30 % at 40 °C to 70 % at 90 °C on the CPU average.
inline CustomCurvePreset testCurve() {
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
        c.contestedFansChanged = [this](const std::vector<std::string>& fans) {
            contestedFans = fans;
        };
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
    std::vector<std::string> contestedFans;
};

} // namespace ventoral::testing
