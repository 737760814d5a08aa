// The process's engine over the process's services.
#include "application/engine/FanViewModel.h"
#include "application/privileged/PrivilegedSMCWriter.h"
#include "platform/power/PowerProfileWatcher.h"
#include "platform/system/ContestedFansNote.h"
#include "platform/system/ProcessEnvironment.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <mutex>
#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {

FanViewModel& FanViewModel::shared() {
    static FanViewModel* engine = [] {
        FanViewModelCollaborators c(SMCService::shared(), FanSimulationService::shared(),
                                    PowerBatteryService::shared(), FanPresetManager::shared(),
                                    PrivilegedSMCWriter::shared());
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
        auto flag = std::make_shared<LowPowerModeFlag>(sysfsRoot(), openSystemBus);
        auto flagLock = std::make_shared<std::mutex>();
        c.isLowPowerModeEnabled = [flag, flagLock] {
            std::lock_guard guard(*flagLock);
            return flag->isEnabled();
        };
        c.subscribeToPowerState = [flag, flagLock](std::function<void(bool)> onChange) {
            // The watcher lives as long as the engine, which lives as long as the process.
            static std::unique_ptr<PowerProfileWatcher> watcher;
            watcher = PowerProfileWatcher::start(openSystemBus, [flag, flagLock, onChange] {
                std::lock_guard guard(*flagLock);
                onChange(flag->isEnabled());
            });
        };
        c.contestedFansChanged = [](const std::vector<std::string>& fans) {
            ContestedFansNote().write(fans);
        };
        return new FanViewModel(std::move(c), true); // lives as long as the process
    }();
    return *engine;
}

} // namespace ventoral
