#include "application/shell/VerificationReport.h"

#include "core/common/Format.h"
#include "core/helper/HelperProtocol.h"
#include "core/power/PowerFormatters.h"
#include "platform/process/ProcessRunner.h"
#include "platform/system/ContestedFansNote.h"
#include "platform/system/ProcessEnvironment.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ventoral {
namespace {

constexpr const char* notAvailable = "N/A";

std::string flag(bool value) {
    return value ? "true" : "false";
}

std::string wattsOr(const std::optional<double>& watts) {
    return watts ? PowerFormatters::watts(*watts) : notAvailable;
}

// A float bound as an integer, truncated; a bound that is not a number prints as one.
std::string truncated(float value) {
    if (!std::isfinite(value)) {
        return PowerText::missingValue;
    }
    return std::to_string(static_cast<long long>(value));
}

std::string formatted(const std::optional<double>& value, const char* format) {
    if (!value) {
        return notAvailable;
    }
    if (!std::isfinite(*value)) {
        return PowerText::missingValue;
    }
    return cformat(format, *value);
}

// "Limits: [nct6775 Fan 2] 1200 - 6500 RPM, assumed; not calibrated (VentoralHelper calibrate 2)"
std::string limitsLine(const FanInfo& fan, const FanLimitsInfo& limits) {
    std::string line = "Limits: [" + fan.name + "] " + truncated(fan.minRPM) + " - " +
                       truncated(fan.maxRPM) + " RPM, " + limitsSourceText(limits.source);
    if (limits.source == FanLimitsSource::assumed && limits.calibratable) {
        line += std::string("; not calibrated (VentoralHelper ") +
                HelperProtocol::Command::calibrate + " " + std::to_string(fan.id) + ")";
    }
    return line;
}

} // namespace

std::string_view daemonStatusText(DaemonStatus status) {
    switch (status) {
    case DaemonStatus::notRegistered:
        return "not registered";
    case DaemonStatus::enabled:
        return "enabled";
    case DaemonStatus::requiresApproval:
        return "requires approval";
    case DaemonStatus::notFound:
        return "not found";
    }
    return "";
}

void writeVerificationReport(std::ostream& out, VerificationSources& s) {
    out << "=== VENTORAL CONTROLLER: HARDWARE TELEMETRY & VERIFICATION ===\n";
    out << "Hardware AppleSMC Fan Count: " << s.smc.readFanCount() << "\n";
    TelemetrySnapshot hardware{s.smc.readFans(), s.smc.readThermalSensors(false), s.now()};
    for (const FanInfo& fan : hardware.fans) {
        out << "  \u2022 [" << fan.name << "] Current: " << cformat("%.1f", double{fan.currentRPM})
            << " RPM | Bounds: [" << truncated(fan.minRPM) << " - " << truncated(fan.maxRPM)
            << "] RPM | Mode: " << title(fan.mode) << "\n";
    }
    for (const std::string& fan : s.smc.unlistedFans()) {
        out << "  \u2022 Not listed: " << fan << "\n";
    }
    for (const std::string& why : s.contestedFans.read()) {
        out << "  \u2022 Not written: " << why << "\n";
    }
    for (const FanLimitsInfo& limits : s.smc.fanLimits()) {
        for (const FanInfo& fan : hardware.fans) {
            if (fan.id == limits.index) {
                out << "  \u2022 " << limitsLine(fan, limits) << "\n";
            }
        }
    }
    out << "Thermal Sensors Detected: " << hardware.sensors.size() << "\n";
    out << "  \u2022 CPU Average: " << cformat("%.1f", hardware.cpuTemperature()) << "\u00B0C\n";
    out << "  \u2022 GPU Peak:    " << cformat("%.1f", hardware.gpuTemperature()) << "\u00B0C\n";
    out << "  \u2022 ANE (Neural):" << cformat("%.1f", hardware.aneTemperature()) << "\u00B0C\n";

    auto reading = s.power.readAll(true, false, nullptr);
    const auto& battery = reading.battery;
    const auto& power = reading.power;
    const auto& health = reading.health;
    out << "\n=== BATTERY & POWER TELEMETRY VERIFICATION ===\n";
    out << "  \u2022 Battery Present: " << flag(battery.isPresent)
        << " | Charge: " << battery.percentage
        << "% | Connected: " << flag(battery.isConnectedToPower)
        << " | Charging: " << flag(battery.isCharging) << "\n";
    out << "  \u2022 Summary: " << battery.summaryTitle(power.systemWatts) << " \u2014 "
        << battery.summarySubtitle() << "\n";
    out << "  \u2022 System Load (PSTR): " << wattsOr(power.systemWatts) << "\n";
    out << "  \u2022 Adapter Input (PDTR): " << wattsOr(power.adapterInputWatts)
        << " | Port: " << power.chargingPortType.value_or(notAvailable) << " | Rated: "
        << (power.adapterRatedWatts ? std::to_string(*power.adapterRatedWatts) + " W"
                                    : std::string(notAvailable))
        << "\n";
    out << "  \u2022 Battery Rail: " << formatted(power.batteryVolts, "%.2f V") << " \u00D7 "
        << (power.batteryAmps ? PowerFormatters::amps(*power.batteryAmps)
                              : std::string(notAvailable))
        << " = " << formatted(power.signedBatteryWatts(), "%+.2f W") << "\n";
    out << "  \u2022 Display Backlight: " << wattsOr(power.displayWatts)
        << " | SoC Package: " << wattsOr(power.socPackageWatts) << "\n";
    auto maxCapacity = health.displayMaximumCapacityPercent();
    out << "  \u2022 Health Max Capacity: "
        << (maxCapacity ? std::to_string(*maxCapacity) + "%" : std::string(notAvailable))
        << " | Condition: "
        << (!health.condition                                ? notAvailable
            : *health.condition == BatteryCondition::service ? "Service Recommended"
                                                             : "Normal")
        << " | Cycles: "
        << (health.cycleCount ? std::to_string(*health.cycleCount) : std::string(notAvailable))
        << " | Temp: " << formatted(health.temperatureCelsius, "%.1f \u00B0C") << "\n";

    out << "\n=== PRESET ENGINE VERIFICATION ===\n";
    if (!hardware.fans.empty()) {
        for (BuiltinPresetType type : allBuiltinPresetTypes) {
            const auto selection = ActivePresetSelection::builtin(type);
            auto target = s.presets.evaluateTargetRPM(hardware.fans.front(), hardware, std::nullopt,
                                                      selection);
            out << "  \u2022 Preset [" << selection.title()
                << "]: Target RPM = " << static_cast<long long>(roundHalfAway(target.targetRPM))
                << " | Mode = " << title(target.mode) << "\n";
        }
    }

    out << "\n=== SIMULATION FALLBACK VERIFICATION ===\n";
    const TelemetrySnapshot simulated = s.sim.readSnapshot();
    out << "Simulated Fans Count: " << simulated.fans.size() << "\n";
    for (const FanInfo& fan : simulated.fans) {
        out << "  \u2022 [" << fan.name << "] Current: " << cformat("%.1f", double{fan.currentRPM})
            << " RPM | Target: " << truncated(fan.targetRPM) << " RPM\n";
    }
    out << "Simulated CPU Temp: " << cformat("%.1f", simulated.cpuTemperature()) << "\u00B0C\n";

    out << "\n=== PRIVILEGED SMC WRITER STATUS ===\n";
    out << "Running as root: " << flag(s.effectiveUid == 0) << "\n";
    out << "Privilege Mode:  " << rawValue(s.writer.checkPrivilegeStatus()) << "\n";
    out << "SMAppService Daemon Status: " << daemonStatusText(s.writer.daemonStatus()) << "\n";
    if (auto helper = s.writer.helperLocator().helperToRun()) {
        out << "Helper Binary: " << *helper << " (SetUID Root: " << flag(isHelperSetuid(*helper))
            << ")\n";
    } else {
        out << "Helper Binary: NOT FOUND\n";
    }
    out << "\nALL HARDWARE, POWER & SIMULATION CHECKS PASSED.\n";
}

void runVerificationAndExit() {
    VerificationSources sources{SMCService::shared(),          PowerBatteryService::shared(),
                                FanPresetManager::shared(),    FanSimulationService::shared(),
                                PrivilegedSMCWriter::shared(), geteuid()};
    writeVerificationReport(std::cout, sources);
    std::cout.flush();
    std::exit(0);
}

int installHelper(std::ostream& out, PrivilegedSMCWriter& writer, uid_t effectiveUid,
                  const std::string& invocation) {
    out << "=== VENTORAL CONTROLLER: INSTALLING PRIVILEGED HELPER ===\n";
    if (effectiveUid != 0) {
        out << "Error: Helper installation requires running as root (e.g. sudo " << invocation
            << " --install-helper).\n";
        return 1;
    }
    auto helper = writer.helperLocator().installSource();
    if (!helper) {
        out << "Error: Could not locate VentoralHelper binary.\n";
        return 1;
    }
    out.flush();
    // The installer's own messages go straight to this process's streams.
    char* argv[] = {const_cast<char*>(helper->c_str()),
                    const_cast<char*>(HelperProtocol::Command::install), nullptr};
    pid_t pid = 0;
    if (int error = posix_spawn(&pid, helper->c_str(), nullptr, nullptr, argv, environ);
        error != 0) {
        out << "Failed to run helper installer: " << std::strerror(error) << "\n";
        return 1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (code != 0) {
        out << "Helper installation failed with exit code: " << code << "\n";
        return code;
    }
    out << "Privileged helper installation succeeded!\n";
    return 0;
}

void runHelperInstallAndExit() {
    const int status =
        installHelper(std::cout, PrivilegedSMCWriter::shared(), geteuid(), ownExecutablePath());
    std::cout.flush();
    std::exit(status);
}

} // namespace ventoral
