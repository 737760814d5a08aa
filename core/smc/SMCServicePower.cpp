#include "core/smc/SMCKeys.h"
#include "core/smc/SMCService.h"

#include <cmath>

namespace ventoral {

std::optional<double> SMCService::powerScalarUnlocked(const char* key) {
    return decodePowerScalarUnlocked(key).value;
}

SMCPowerReadings SMCService::readPowerAndBatterySensors() {
    std::lock_guard guard(lock_);
    SMCPowerReadings r;
    r.readAt = clock_();
    auto within = [](std::optional<double> v, double low, double high) {
        return v && *v >= low && *v <= high ? v : std::nullopt;
    };

    if (auto system = powerScalarUnlocked(SMCKey::systemPower);
        system && *system > 0 && *system <= 1000) {
        r.systemWatts = system;
    }
    r.adapterInputWatts = within(powerScalarUnlocked(SMCKey::adapterPower), 0, 1000);
    auto backlight = decodePowerScalarUnlocked(SMCKey::displayPower);
    r.displayWatts = within(backlight.acknowledged ? backlight.value
                                                   : powerScalarUnlocked(SMCKey::backlightPower),
                            0, 150);
    r.socPackageWatts = within(powerScalarUnlocked(SMCKey::cpuPackagePower), 0, 500);

    std::optional<double> volts;
    auto voltage = readCachedKeyRawUnlocked(SMCKey::batteryVoltage);
    if (voltage.acknowledged && voltage.dataType == SMCType::ui16 && voltage.bytes.size() >= 2) {
        volts = (voltage.bytes[0] | (voltage.bytes[1] << 8)) / 1000.0;
    } else if (voltage.acknowledged && voltage.dataType == SMCType::flt &&
               voltage.bytes.size() >= 4) {
        volts = littleEndianFloat(voltage.bytes);
    }
    std::optional<double> amps;
    auto current = readCachedKeyRawUnlocked(SMCKey::batteryCurrent);
    if (current.acknowledged && current.dataType == SMCType::si16 && current.bytes.size() >= 2) {
        amps = static_cast<std::int16_t>(current.bytes[0] | (current.bytes[1] << 8)) / 1000.0;
    } else if (current.acknowledged && current.dataType == SMCType::flt &&
               current.bytes.size() >= 4) {
        amps = littleEndianFloat(current.bytes);
    }
    bool voltsValid = volts && std::isfinite(*volts) && *volts >= 1 && *volts <= 30;
    bool ampsValid = amps && std::isfinite(*amps) && std::fabs(*amps) <= 30;
    if (voltsValid && ampsValid) {
        r.batteryVolts = volts;
        r.batteryAmps = amps;
    }

    r.batteryTemperatureCelsius = within(powerScalarUnlocked(SMCKey::batteryTemperature), -20, 80);

    bool anyPortKey = false;
    std::vector<SMCPortRail> rails;
    for (int port = 1; port <= 4; ++port) {
        auto v = decodePowerScalarUnlocked(SMCKey::portVoltage(port));
        auto a = decodePowerScalarUnlocked(SMCKey::portCurrent(port));
        anyPortKey = anyPortKey || v.acknowledged || a.acknowledged;
        if (v.value && a.value) {
            double watts = *v.value * *a.value;
            if (std::isfinite(watts) && watts >= 0 && watts <= 150) {
                rails.push_back({port, watts});
            }
        }
    }
    r.portRails = anyPortKey ? SMCPortOutputRails::measured(std::move(rails), r.readAt)
                             : SMCPortOutputRails::unavailable();
    return r;
}

std::optional<double> SMCService::readSystemWattsOnly() {
    std::lock_guard guard(lock_);
    auto system = powerScalarUnlocked(SMCKey::systemPower);
    return system && *system > 0 && *system <= 1000 ? system : std::nullopt;
}

} // namespace ventoral
