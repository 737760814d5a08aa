#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ventoral {

// One entry of <sysfs>/class/power_supply.
struct PowerSupply {
    std::string name;
    std::string dir;
    std::string type;  // "Battery", "Mains", "USB", ...
    std::string scope; // "System", "Device" or empty

    std::optional<std::string> text(const std::string& attribute) const;
    std::optional<std::int64_t> integer(const std::string& attribute) const;
    bool isOnline() const;
};

std::vector<PowerSupply> listPowerSupplies(const std::string& sysfsRoot);

// The machine's supplies, listed again only when the set may have changed. Kept only while
// something tells it of changes (the udev monitor); otherwise listed at every look.
class PowerSupplySet {
public:
    explicit PowerSupplySet(std::string sysfsRoot);
    std::vector<PowerSupply> current();
    // A supply came or went, or it is not known whether one did.
    void changed();
    // Whether changes will be told from now on.
    void setWatched(bool watched);

private:
    std::string root_;
    std::mutex mutex_;
    bool watched_ = false;
    std::optional<std::vector<PowerSupply>> kept_;
};
// The machine's own battery (a peripheral's battery has scope "Device").
std::optional<PowerSupply> systemBattery(const std::vector<PowerSupply>& supplies);
// USB-C power sources (UCSI or Type-C supplies) that belong to the system, by name.
std::vector<PowerSupply> usbCSources(const std::vector<PowerSupply>& supplies);

// Battery voltage in volts from voltage_now (µV).
std::optional<double> batteryVolts(const PowerSupply& battery);
// Battery current in amperes, positive while charging: the magnitude from current_now (or
// power_now over voltage), the direction from status, since drivers disagree on the sign.
std::optional<double> batteryAmps(const PowerSupply& battery);
// Watts the battery is giving while it discharges; none otherwise.
std::optional<double> batteryDischargeWatts(const PowerSupply& battery);
std::optional<double> batteryTemperature(const PowerSupply& battery);

} // namespace ventoral
