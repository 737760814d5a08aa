// The process's engine over the process's services.
#include "application/engine/FanViewModel.h"
#include "application/privileged/PrivilegedSMCWriter.h"
#include "platform/system/ProcessEnvironment.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

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
        return new FanViewModel(std::move(c), true); // lives as long as the process
    }();
    return *engine;
}

} // namespace ventoral
