#include "helper/cli/HelperCommandLine.h"

#include "core/helper/HelperProtocol.h"
#include "core/smc/SMCKeys.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace ventoral {
namespace {

namespace Cmd = HelperProtocol::Command;
namespace Exit = HelperProtocol::ExitStatus;

constexpr const char* setRPMUsage = "Usage: VentoralHelper set-rpm <index> <rpm>";
constexpr const char* setModeUsage = "Usage: VentoralHelper set-mode <index> <mode>";
constexpr const char* setLPMUsage = "Usage: VentoralHelper set-lpm <0|1>";
constexpr const char* calibrateUsage = "Usage: VentoralHelper calibrate [index]";
constexpr const char* calibrateNeedsRoot =
    "Error: calibrate must be run as root (for example through pkexec or sudo).";
constexpr const char* installNeedsRoot =
    "Error: install must be run by root (for example through pkexec or sudo); this copy's "
    "set-user-id bit does not allow it.";

std::string_view withoutPlus(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    return text;
}

int usage(std::ostream& err, const char* line) {
    err << line << "\n";
    return Exit::rejected;
}

// A manual write the backstop's hold refuses, told on standard error; not a failure of the
// hardware, so it is rejected rather than failed.
bool refusedByThermalHold(std::int64_t index, DirectSMCOperator& smc, HelperServices& services) {
    if (!isFanIndex(index)) {
        return false;
    }
    auto refusal =
        services.hold.refusal(index, [&smc] { return smc.readNumber(SMCKey::cpuPackage); });
    if (refusal) {
        services.err << *refusal << "\n";
    }
    return refusal.has_value();
}

// An action the user who started the run may not take, told on standard error.
bool refusedToUser(const char* action, HelperServices& services) {
    if (services.realUserMay(action)) {
        return false;
    }
    services.err << (std::string_view(action) == HelperProtocol::Action::controlFans
                         ? HelperProtocol::Reply::notAuthorizedForFans
                         : HelperProtocol::Reply::notAuthorizedForProfile)
                 << "\n";
    return true;
}

int runCommand(const std::vector<std::string>& arguments, DirectSMCOperator& smc,
               HelperServices& services);

// Measures one fan, or every fan whose limits nobody knows, telling each step on standard
// output; an interruption puts the fan back at once.
int calibrate(const std::string* indexArgument, DirectSMCOperator& smc, HelperServices& services) {
    std::optional<std::int64_t> only;
    if (indexArgument) {
        only = parseIndexArgument(*indexArgument);
        if (!only) {
            return usage(services.err, calibrateUsage);
        }
    }
    if (services.effectiveUid != 0) {
        services.err << calibrateNeedsRoot << "\n";
        return Exit::rejected;
    }
    if (refusedToUser(HelperProtocol::Action::controlFans, services)) {
        return Exit::rejected;
    }
    std::vector<std::int64_t> fans;
    if (only) {
        fans.push_back(*only);
    } else {
        for (const FanLimitsInfo& fan : smc.fanLimits()) {
            if (fan.calibratable && fan.source == FanLimitsSource::assumed) {
                fans.push_back(fan.index);
            }
        }
        if (fans.empty()) {
            services.out << "No fan needs calibration.\n";
            return Exit::success;
        }
    }
    bool allSucceeded = true;
    for (std::int64_t index : fans) {
        if (refusedByThermalHold(index, smc, services)) {
            allSucceeded = false;
            continue;
        }
        services.out << HelperProtocol::Reply::calibrationStartedPrefix << index << "\n";
        // Nobody left to read the progress (the application quit) ends it as an interruption.
        auto stopped = [&] {
            return !services.out || (services.interrupted && services.interrupted());
        };
        auto progress = [&](double fraction, const std::string& message) {
            services.out << "Fan " << index << " " << std::lround(fraction * 100)
                         << "%: " << message << "\n";
            services.out.flush();
        };
        FanCalibrationOutcome outcome = smc.calibrateFan(index, {progress, stopped});
        (outcome.succeeded ? services.out : services.err) << outcome.message << "\n";
        allSucceeded = allSucceeded && outcome.succeeded;
        if (stopped()) {
            break;
        }
    }
    return allSucceeded ? Exit::success : Exit::operationFailed;
}

} // namespace

std::optional<std::int64_t> parseIndexArgument(const std::string& text) {
    std::string_view digits = withoutPlus(text);
    if (digits.size() != text.size() && !digits.empty() && digits.front() == '-') {
        return std::nullopt; // "+-1"
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<float> parseSpeedArgument(const std::string& text) {
    std::string_view number = withoutPlus(text);
    if (number.empty() || (number.size() != text.size() && number.front() == '-')) {
        return std::nullopt;
    }
    float value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (end != number.data() + number.size()) {
        return std::nullopt;
    }
    if (error == std::errc::result_out_of_range) {
        // Well formed but beyond a float: strtof gives infinity or zero, as the write expects.
        return std::strtof(std::string(number).c_str(), nullptr);
    }
    if (error != std::errc()) {
        return std::nullopt;
    }
    return value;
}

bool parseLowPowerModeValue(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text == "1" || lower == "true" || lower == "on";
}

int runHelperCommandLine(const std::vector<std::string>& arguments, HelperServices& services) {
    // Every run, "ping" included, starts by opening the controller.
    auto smc = services.makeOperator();
    if (arguments.empty()) {
        return services.runDaemon(*smc);
    }
    const int status = runCommand(arguments, *smc, services);
    for (const std::string& notice : smc->takeNotices()) {
        services.err << "VentoralHelper: " << notice << "\n";
    }
    return status;
}

namespace {

int runCommand(const std::vector<std::string>& arguments, DirectSMCOperator& smc,
               HelperServices& services) {
    const std::string& command = arguments[0];
    auto argument = [&](std::size_t i) -> const std::string* {
        return i < arguments.size() ? &arguments[i] : nullptr;
    };

    if (command == Cmd::ping) {
        services.out << "PONG\n";
        return Exit::success;
    }
    if (command == Cmd::status) {
        const bool root = services.effectiveUid == 0;
        services.out << "EUID: " << services.effectiveUid
                     << " | Root: " << (root ? "true" : "false")
                     << " | Fans: " << smc.readFanCount() << "\n";
        return root ? Exit::success : Exit::rejected;
    }
    if (command == Cmd::install) {
        // Installing rewrites root's files and services: the user who asked must be root
        // (pkexec makes it so), not merely this program's set-user-id copy.
        if (services.effectiveUid == 0 && services.realUid != 0) {
            services.err << installNeedsRoot << "\n";
            return Exit::rejected;
        }
        return services.install() ? Exit::success : Exit::rejected;
    }
    if (command == Cmd::setRPM) {
        auto index = argument(1) ? parseIndexArgument(*argument(1)) : std::nullopt;
        auto rpm = argument(2) ? parseSpeedArgument(*argument(2)) : std::nullopt;
        if (!index || !rpm) {
            return usage(services.err, setRPMUsage);
        }
        if (refusedToUser(HelperProtocol::Action::controlFans, services) ||
            refusedByThermalHold(*index, smc, services)) {
            return Exit::rejected;
        }
        return smc.setFanRPM(*index, *rpm) ? Exit::success : Exit::operationFailed;
    }
    if (command == Cmd::setMode) {
        auto index = argument(1) ? parseIndexArgument(*argument(1)) : std::nullopt;
        auto mode = argument(2) ? parseIndexArgument(*argument(2)) : std::nullopt;
        if (!index || !mode) {
            return usage(services.err, setModeUsage);
        }
        if (*mode == 1 && (refusedToUser(HelperProtocol::Action::controlFans, services) ||
                           refusedByThermalHold(*index, smc, services))) {
            return Exit::rejected;
        }
        return smc.setFanMode(*index, *mode) ? Exit::success : Exit::operationFailed;
    }
    if (command == Cmd::resetAuto) {
        return smc.resetAllFansToAuto() ? Exit::success : Exit::operationFailed;
    }
    if (command == Cmd::handBack) {
        for (std::int64_t fan : smc.handBackFans({}, true)) {
            services.out << "Fan " << fan << " handed back\n";
        }
        return Exit::success;
    }
    if (command == Cmd::calibrate) {
        return calibrate(argument(1), smc, services);
    }
    if (command == Cmd::setLowPowerMode) {
        if (!argument(1)) {
            return usage(services.err, setLPMUsage);
        }
        if (refusedToUser(HelperProtocol::Action::switchPowerProfile, services)) {
            return Exit::rejected;
        }
        return services.setLowPowerMode(parseLowPowerModeValue(*argument(1)))
                   ? Exit::success
                   : Exit::operationFailed;
    }
    services.err << "Unknown command: " << command << "\n";
    return Exit::rejected;
}

} // namespace

} // namespace ventoral
