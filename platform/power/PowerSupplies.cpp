#include "platform/power/PowerSupplies.h"

#include "platform/sysfs/SysfsFiles.h"

#include <algorithm>
#include <cmath>

namespace ventoral {

std::optional<std::string> PowerSupply::text(const std::string& attribute) const {
    return sysfs::readText(dir + "/" + attribute);
}

std::optional<std::int64_t> PowerSupply::integer(const std::string& attribute) const {
    return sysfs::readInteger(dir + "/" + attribute);
}

bool PowerSupply::isOnline() const {
    return integer("online").value_or(0) == 1;
}

std::vector<PowerSupply> listPowerSupplies(const std::string& sysfsRoot) {
    const std::string classDir = sysfsRoot + "/class/power_supply";
    std::vector<PowerSupply> supplies;
    for (const auto& name : sysfs::list(classDir)) {
        PowerSupply supply;
        supply.name = name;
        supply.dir = classDir + "/" + name;
        supply.type = sysfs::readText(supply.dir + "/type").value_or("");
        supply.scope = sysfs::readText(supply.dir + "/scope").value_or("");
        supplies.push_back(std::move(supply));
    }
    return supplies;
}

PowerSupplySet::PowerSupplySet(std::string sysfsRoot) : root_(std::move(sysfsRoot)) {}

std::vector<PowerSupply> PowerSupplySet::current() {
    std::lock_guard guard(mutex_);
    if (kept_) {
        return *kept_;
    }
    auto supplies = listPowerSupplies(root_);
    if (watched_) {
        kept_ = supplies;
    }
    return supplies;
}

void PowerSupplySet::changed() {
    std::lock_guard guard(mutex_);
    kept_.reset();
}

void PowerSupplySet::setWatched(bool watched) {
    std::lock_guard guard(mutex_);
    watched_ = watched;
    kept_.reset();
}

std::optional<PowerSupply> systemBattery(const std::vector<PowerSupply>& supplies) {
    for (const auto& supply : supplies) {
        if (supply.type == "Battery" && supply.scope != "Device") {
            return supply;
        }
    }
    return std::nullopt;
}

std::vector<PowerSupply> usbCSources(const std::vector<PowerSupply>& supplies) {
    std::vector<PowerSupply> sources;
    for (const auto& supply : supplies) {
        bool typeC = supply.name.rfind("ucsi-source-psy", 0) == 0 ||
                     supply.name.find("typec") != std::string::npos;
        if (supply.type == "USB" && typeC && supply.scope != "Device") {
            sources.push_back(supply);
        }
    }
    return sources;
}

std::optional<double> batteryVolts(const PowerSupply& battery) {
    auto microvolts = battery.integer("voltage_now");
    if (!microvolts || *microvolts <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(*microvolts) / 1e6;
}

std::optional<double> batteryAmps(const PowerSupply& battery) {
    std::optional<double> magnitude;
    if (auto microamps = battery.integer("current_now")) {
        magnitude = std::fabs(static_cast<double>(*microamps)) / 1e6;
    } else if (auto microwatts = battery.integer("power_now")) {
        auto volts = batteryVolts(battery);
        if (volts) {
            magnitude = std::fabs(static_cast<double>(*microwatts)) / 1e6 / *volts;
        }
    }
    if (!magnitude) {
        return std::nullopt;
    }
    auto status = battery.text("status").value_or("");
    if (status == "Charging") {
        return *magnitude;
    }
    if (status == "Discharging") {
        return -*magnitude;
    }
    return 0.0; // Full, Not charging, Unknown: no current worth a direction
}

std::optional<double> batteryDischargeWatts(const PowerSupply& battery) {
    if (battery.text("status").value_or("") != "Discharging") {
        return std::nullopt;
    }
    if (auto microwatts = battery.integer("power_now"); microwatts && *microwatts != 0) {
        return std::fabs(static_cast<double>(*microwatts)) / 1e6;
    }
    auto volts = batteryVolts(battery);
    auto amps = batteryAmps(battery);
    if (volts && amps) {
        return *volts * std::fabs(*amps);
    }
    return std::nullopt;
}

std::optional<double> batteryTemperature(const PowerSupply& battery) {
    auto tenths = battery.integer("temp");
    if (!tenths) {
        return std::nullopt;
    }
    return static_cast<double>(*tenths) / 10.0;
}

} // namespace ventoral
