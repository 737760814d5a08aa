// The process's engine over the process's services.
#include "application/engine/FanViewModel.h"
#include "application/privileged/PrivilegedSMCWriter.h"
#include "platform/power/WatchedLowPowerMode.h"
#include "platform/system/ContestedFansNote.h"
#include "platform/system/ProcessEnvironment.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {

FanViewModelCollaborators linuxEngineCollaborators(SMCService& smc, FanSimulationService& sim,
                                                   PowerBatteryService& power,
                                                   FanPresetManager& presets, FanWriter& writer,
                                                   std::shared_ptr<WatchedLowPowerMode> lowPower) {
    FanViewModelCollaborators c(smc, sim, power, presets, writer);
    c.systemUptime = [] { return systemUptimeSeconds(procRoot()); };
    c.systemIsDark = [] {
        // A dark panel has a dark window colour in the palette the tray follows.
        return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
               QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
    };
    c.screenScale = [] {
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        QScreen* screen = app ? QGuiApplication::primaryScreen() : nullptr;
        return screen ? screen->devicePixelRatio() : 2.0;
    };
    c.isLowPowerModeEnabled = [lowPower] { return lowPower->isEnabled(); };
    c.subscribeToPowerState = [lowPower](std::function<void(bool)> onChange) {
        lowPower->subscribe(std::move(onChange));
    };
    c.contestedFansChanged = [](const std::vector<std::string>& fans) {
        ContestedFansNote().write(fans);
    };
    return c;
}

FanViewModel& FanViewModel::shared() {
    // Lives as long as the process.
    static FanViewModel* engine = new FanViewModel(
        linuxEngineCollaborators(SMCService::shared(), FanSimulationService::shared(),
                                 PowerBatteryService::shared(), FanPresetManager::shared(),
                                 PrivilegedSMCWriter::shared(), WatchedLowPowerMode::shared()),
        true);
    return *engine;
}

} // namespace ventoral
