// VentoralController: the tray application, or one of its two command-line modes.
#include "application/engine/FanViewModel.h"
#include "application/engine/TerminationSignals.h"
#include "application/shell/VerificationReport.h"
#include "core/common/MainThread.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr const char* usage =
    "Usage: VentoralController [--verify | --install-helper | --help]\n"
    "  (no argument)     run the fan controller until it is quit\n"
    "  --verify          print what this machine's fans, sensors, battery and privileges look\n"
    "                    like, and exit\n"
    "  --install-helper  install the privileged helper (run as root), and exit\n";

bool hasArgument(int argc, char** argv, const char* wanted) {
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == wanted) {
            return true;
        }
    }
    return false;
}

bool hasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return (x && *x) || (wayland && *wayland) || (platform && *platform);
}

} // namespace

int main(int argc, char** argv) {
    using namespace ventoral;
    // The two modes run before anything graphical or the engine exists.
    if (hasArgument(argc, argv, "--verify")) {
        runVerificationAndExit();
    }
    if (hasArgument(argc, argv, "--install-helper")) {
        runHelperInstallAndExit();
    }
    if (hasArgument(argc, argv, "--help")) {
        std::fputs(usage, stdout);
        return 0;
    }

    std::unique_ptr<QCoreApplication> app;
    if (hasDisplay()) {
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv); // headless: the loop alone
    }
    setMainThreadExecutor([](MainThreadJob job) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(job),
                                  Qt::QueuedConnection);
    });
    // Taken before the engine starts, so a stop request during start-up ends cleanly too.
    FanViewModel* engine = nullptr;
    TerminationSignals terminations([&engine](int) {
        if (engine) {
            engine->handleTermination();
        }
        QCoreApplication::quit();
    });
    engine = &FanViewModel::shared();
    // Until there is a window to show it in, what the user must know goes to standard error.
    QObject::connect(engine, &FanViewModel::lastErrorMessageChanged, [engine] {
        if (const auto& message = engine->lastErrorMessage()) {
            std::fprintf(stderr, "VentoralController: %s\n", message->c_str());
        }
    });
    if (const auto& message = engine->lastErrorMessage()) {
        std::fprintf(stderr, "VentoralController: %s\n", message->c_str());
    }
    const int status = app->exec();
    engine->handleTermination(); // a second call does nothing
    return status;
}
