// A whole engine in its own process, over this machine's (fixture) hardware and the privileged
// writer, for the end-to-end tests. It selects a curve or Max when asked, reports what the user
// would see on standard error, and ends like the application does.
#include "application/engine/FanViewModel.h"
#include "application/engine/TerminationSignals.h"
#include "application/privileged/PrivilegedSMCWriter.h"
#include "core/common/DefaultsStore.h"
#include "core/common/MainThread.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/system/ProcessEnvironment.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <cmath>
#include <cstdio>
#include <sdbus-c++/sdbus-c++.h>
#include <string>
#include <thread>
#include <unistd.h>

using namespace ventoral;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    setMainThreadExecutor([](MainThreadJob job) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(job),
                                  Qt::QueuedConnection);
    });
    const std::string root = sysfsRoot();
    SMCService smc(std::make_unique<HwmonSmcTransport>(root, FanControlMemory::folderFor(root)));
    FanSimulationService sim;
    PowerBatteryPlatform power;
    power.readPowerSensors = [&] { return smc.readPowerAndBatterySensors(); };
    power.now = systemWallClock();
    power.postToMain = postToMainThread;
    auto powerService = PowerBatteryService::make(power);
    FanPresetManager presets(std::make_shared<InMemoryDefaultsStore>());

    PrivilegedWriterPlatform w;
    w.rootPrefix = testSetting(EnvironmentSetting::rootPrefix).value_or("");
    w.effectiveUid = [] { return geteuid(); };
    w.smc = [&]() -> SMCService& { return smc; };
    w.systemBus = openSystemBus;
    w.postToMain = postToMainThread;
    w.sysfsRoot = root;
    auto writer = PrivilegedSMCWriter::make(w);

    FanViewModelCollaborators c(smc, sim, *powerService, presets, *writer);
    FanViewModel engine(std::move(c), true);
    // After the first refusal the test counts helper runs, once the writes queued before it end.
    std::thread drainer;
    auto report = [&] {
        std::fprintf(stderr, "authorized %d error %s\n", engine.isAuthorized() ? 1 : 0,
                     engine.lastErrorMessage().value_or("none").c_str());
        if (engine.lastErrorMessage() && !engine.isAuthorized() && !drainer.joinable()) {
            drainer = std::thread([&] {
                writer->drain();
                std::fprintf(stderr, "writes drained\n");
            });
        }
    };
    QObject::connect(&engine, &FanViewModel::lastErrorMessageChanged, report);
    // Lets the test see its changes to fan speeds arrive, one poll per tick.
    QObject::connect(&engine, &FanViewModel::fansChanged, [&] {
        std::string line = "fans";
        for (const FanInfo& fan : engine.fans()) {
            line += " " + std::to_string(std::lround(fan.currentRPM));
        }
        std::fprintf(stderr, "%s\n", line.c_str());
    });
    TerminationSignals terminations([&](int) {
        engine.handleTermination();
        QCoreApplication::quit();
    });
    if (argc > 1 && std::string(argv[1]) == "curve") {
        CustomCurvePreset curve(
            Uuid::random(), "Probe", TargetSensorBinding::cpuAverage,
            {CurveControlPoint(Uuid::random(), 20, 55), CurveControlPoint(Uuid::random(), 100, 60)},
            true);
        engine.saveCustomPreset(curve);
        engine.selectPreset(ActivePresetSelection::custom(curve.id));
    } else if (argc > 1 && std::string(argv[1]) == "max") {
        engine.selectPreset(ActivePresetSelection::builtin(BuiltinPresetType::max));
    }
    std::fprintf(stderr, "ready fans %zu mode %s\n", engine.fans().size(),
                 std::string(rawValue(engine.privilegeStatus())).c_str());
    report();
    const int status = app.exec();
    if (drainer.joinable()) {
        drainer.join();
    }
    return status;
}
