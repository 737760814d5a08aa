// VentoralHelper: the root side of Ventoral. One command per run, or the D-Bus daemon.
#include "core/helper/HelperProtocol.h"
#include "helper/cli/HelperCommandLine.h"
#include "helper/daemon/HelperDaemon.h"
#include "helper/install/HelperInstaller.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/power/LowPowerModeSwitch.h"
#include "platform/smc/EmulatedSmcTransport.h"
#include "platform/sysfs/SysfsFiles.h"
#include "platform/system/LoginSession.h"
#include "platform/system/ProcessEnvironment.h"

#include <csignal>
#include <iostream>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

namespace {

using namespace ventoral;

// Test builds pin the hardware to a fixture so that even a set-user-id copy never sees /sys.
std::string hardwareRoot() {
#ifdef VENTORAL_FIXED_SYSFS_ROOT
    return VENTORAL_FIXED_SYSFS_ROOT;
#else
    return sysfsRoot();
#endif
}

// Whether the user who started this run may take an action. In the fixture build the session
// is a file beside the fixture machine, so that tests never ask the machine's logind.
bool realUserMay(const char*) {
    // Only a set-user-id run holds rights its user may not have; any other run is only what
    // its user already is.
    if (getuid() == 0 || geteuid() != 0) {
        return true;
    }
#ifdef VENTORAL_FIXED_SYSFS_ROOT
    return sysfs::readText(std::string(VENTORAL_FIXED_SYSFS_ROOT) + "/.session") == "active local";
#else
    return isInActiveLocalSession(getpid(), getuid());
#endif
}

// Where what this program remembers of the fans is kept; none for an emulated controller.
std::string stateFolder() {
    if (testSetting(EnvironmentSetting::smcProfile)) {
        return {};
    }
    return FanControlMemory::folderFor(hardwareRoot());
}

std::unique_ptr<SmcTransport> makeTransport() {
    if (auto profile = testSetting(EnvironmentSetting::smcProfile)) {
        try {
            return EmulatedSmcTransport::fromProfileFile(*profile, geteuid() == 0);
        } catch (const DecodingError& error) {
            std::cerr << "VentoralHelper: " << error.what() << "\n";
            return std::make_unique<EmulatedSmcTransport>();
        }
    }
    const std::string root = hardwareRoot();
    return std::make_unique<HwmonSmcTransport>(root, FanControlMemory::folderFor(root));
}

volatile std::sig_atomic_t stopRequested = 0;

// A calibration asked to stop puts its fan back before the program ends.
std::function<bool()> catchStopRequests() {
    struct sigaction action {};
    action.sa_handler = [](int) { stopRequested = 1; };
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    // A reader gone from the output pipe must not kill it before the fan is back.
    std::signal(SIGPIPE, SIG_IGN);
    return [] { return stopRequested != 0; };
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::string root = hardwareRoot();
    LowPowerModeSwitch lowPower(root, openSystemBus);
    auto setLowPowerMode = [&](bool enabled) {
        if (geteuid() == 0) {
            // A set-user-id run takes real root ids too, so the profile daemon sees root.
            (void)setgid(0);
            (void)setuid(0);
        }
        return lowPower.setLowPowerMode(enabled);
    };

    ThermalHold hold(stateFolder());
    HelperServices services{
        [] { return std::make_unique<DirectSMCOperator>(makeTransport()); },
        setLowPowerMode,
        [] {
            InstallLayout layout{testSetting(EnvironmentSetting::rootPrefix).value_or("")};
            return installHelperFiles(
                {layout, ownExecutablePath(), geteuid(), getpid(), std::cerr, std::cout});
        },
        [&](DirectSMCOperator& smc) {
            return runHelperDaemon(smc, setLowPowerMode, geteuid(), hold, std::cerr);
        },
        geteuid(),
        getuid(),
        hold,
        realUserMay,
        std::cout,
        std::cerr,
    };
    if (!arguments.empty() && arguments[0] == HelperProtocol::Command::calibrate) {
        services.interrupted = catchStopRequests();
    }
    return runHelperCommandLine(arguments, services);
}
