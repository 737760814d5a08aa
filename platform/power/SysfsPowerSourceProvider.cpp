#include "platform/power/SysfsPowerSourceProvider.h"

#include "core/common/Format.h"
#include "core/power/BatteryTelemetryParser.h"

#include <cmath>

namespace ventoral {
namespace {

namespace DK = PowerSourceKey;
namespace RK = BatteryRegistryKey;

bool isExternalType(const std::string& type) {
    return type == "Mains" || type.rfind("USB", 0) == 0;
}

std::optional<double> positive(std::optional<std::int64_t> value) {
    if (!value || *value <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(*value);
}

std::int64_t rounded(double value) {
    return static_cast<std::int64_t>(roundHalfAway(value));
}

// Minutes until empty (discharging) or full (charging): the driver's own estimate, else the
// remaining energy or charge over the present rate; -1 while the rate is unknown.
std::int64_t minutesUntil(const PowerSupply& battery, bool toFull) {
    const char* estimate = toFull ? "time_to_full_now" : "time_to_empty_now";
    if (auto seconds = positive(battery.integer(estimate))) {
        return rounded(*seconds / 60);
    }
    for (auto [amount, full, rate] : {std::tuple{"energy_now", "energy_full", "power_now"},
                                      std::tuple{"charge_now", "charge_full", "current_now"}}) {
        auto now = battery.integer(amount);
        auto rateValue = battery.integer(rate);
        if (!now || !rateValue || *rateValue == 0) {
            continue;
        }
        double remaining = static_cast<double>(*now);
        if (toFull) {
            auto capacity = battery.integer(full);
            if (!capacity) {
                continue;
            }
            remaining = static_cast<double>(*capacity - *now);
        }
        double hours = remaining / std::fabs(static_cast<double>(*rateValue));
        if (std::isfinite(hours) && hours >= 0) {
            return rounded(hours * 60);
        }
    }
    return -1;
}

std::optional<std::int64_t> capacityPercent(const PowerSupply& battery) {
    if (auto capacity = battery.integer("capacity")) {
        return *capacity;
    }
    for (auto [now, full] :
         {std::pair{"energy_now", "energy_full"}, std::pair{"charge_now", "charge_full"}}) {
        auto n = battery.integer(now);
        auto f = positive(battery.integer(full));
        if (n && f) {
            return rounded(static_cast<double>(*n) / *f * 100);
        }
    }
    return std::nullopt;
}

// A battery capacity in mAh from charge_* (µAh) or energy_* (µWh over a voltage).
struct Capacities {
    std::optional<std::int64_t> design, full;
    std::optional<std::string> voltageSource;
};

Capacities capacitiesOf(const PowerSupply& battery) {
    Capacities c;
    auto design = positive(battery.integer("charge_full_design"));
    auto full = positive(battery.integer("charge_full"));
    if (design || full) {
        c.design = design ? std::optional(rounded(*design / 1000)) : std::nullopt;
        c.full = full ? std::optional(rounded(*full / 1000)) : std::nullopt;
        return c;
    }
    auto energyDesign = positive(battery.integer("energy_full_design"));
    auto energyFull = positive(battery.integer("energy_full"));
    if (!energyDesign && !energyFull) {
        return c;
    }
    std::optional<double> microvolts = positive(battery.integer("voltage_min_design"));
    c.voltageSource = "voltage_min_design";
    if (!microvolts) {
        microvolts = positive(battery.integer("voltage_now"));
        c.voltageSource = "voltage_now";
    }
    if (!microvolts) {
        c.voltageSource.reset();
        return c;
    }
    // µWh / µV = Ah.
    auto toMAh = [&](std::optional<double> microwattHours) -> std::optional<std::int64_t> {
        if (!microwattHours) {
            return std::nullopt;
        }
        return rounded(*microwattHours / *microvolts * 1000);
    };
    c.design = toMAh(energyDesign);
    c.full = toMAh(energyFull);
    return c;
}

// The kernel's health words, in the registry's vocabulary; none for passing states.
std::optional<std::string> healthWord(const std::string& health) {
    if (health == "Good") {
        return "Good";
    }
    if (health == "Dead" || health == "Unspecified failure" || health == "Over voltage" ||
        health == "Over current") {
        return "Service Battery";
    }
    if (health == "Calibration required") {
        return "Check Battery";
    }
    return std::nullopt;
}

// Input power through a USB-C supply, in mW.
std::optional<std::int64_t> usbInputMilliwatts(const std::vector<PowerSupply>& external) {
    for (const PowerSupply& supply : external) {
        auto volts = positive(supply.integer("voltage_now"));
        auto amps = supply.integer("current_now");
        if (supply.type != "Mains" && volts && amps) {
            return rounded(*volts * std::fabs(static_cast<double>(*amps)) / 1e9);
        }
    }
    return std::nullopt;
}

} // namespace

std::vector<PowerSupply> onlineExternalSupplies(const std::vector<PowerSupply>& supplies) {
    std::vector<PowerSupply> online;
    for (const PowerSupply& supply : supplies) {
        if (isExternalType(supply.type) && supply.scope != "Device" && supply.isOnline()) {
            online.push_back(supply);
        }
    }
    return online;
}

std::optional<std::int64_t> ratedWatts(const PowerSupply& supply) {
    auto volts = positive(supply.integer("voltage_max"));
    auto amps = positive(supply.integer("current_max"));
    if (!volts || !amps) {
        return std::nullopt;
    }
    return rounded(*volts * *amps / 1e12);
}

std::optional<std::vector<LooseDictionary>> SysfsPowerSourceProvider::powerSourceDescriptions() {
    const auto supplies = supplies_->current();
    const bool external = !onlineExternalSupplies(supplies).empty();
    std::vector<LooseDictionary> descriptions;
    for (const PowerSupply& battery : supplies) {
        if (battery.type != "Battery" || battery.scope == "Device") {
            continue;
        }
        const std::string status = battery.text("status").value_or("");
        LooseDictionary d{
            {DK::type, DK::internalBattery},
            {DK::name, battery.name},
            {DK::isPresent, battery.integer("present").value_or(1) == 1},
            {DK::powerSourceState, external ? DK::acPower : DK::batteryPower},
            {DK::maxCapacity, 100},
        };
        if (!status.empty() && status != "Unknown") {
            d.emplace(DK::isCharging, status == "Charging");
            d.emplace(DK::isCharged, status == "Full");
        }
        if (auto percent = capacityPercent(battery)) {
            d.emplace(DK::currentCapacity, *percent);
        }
        if (status == "Discharging") {
            d.emplace(DK::timeToEmpty, minutesUntil(battery, false));
        }
        if (status == "Charging") {
            d.emplace(DK::timeToFullCharge, minutesUntil(battery, true));
        }
        descriptions.push_back(std::move(d));
    }
    return descriptions;
}

std::optional<LooseDictionary> SysfsPowerSourceProvider::externalAdapterDetails() {
    for (const PowerSupply& supply : onlineExternalSupplies(supplies_->current())) {
        if (auto watts = ratedWatts(supply)) {
            return LooseDictionary{{DK::watts, *watts}, {DK::name, supply.name}};
        }
    }
    return std::nullopt;
}

LooseDictionary SysfsPowerSourceProvider::batteryRegistry() {
    const auto supplies = supplies_->current();
    auto battery = systemBattery(supplies);
    if (!battery) {
        return {};
    }
    const auto external = onlineExternalSupplies(supplies);
    const std::string status = battery->text("status").value_or("");
    LooseDictionary r{{RK::externalConnected, !external.empty()},
                      {RK::isCharging, status == "Charging"}};
    if (auto percent = capacityPercent(*battery)) {
        r.emplace(RK::currentCapacity, *percent);
    }
    if (auto volts = batteryVolts(*battery)) {
        r.emplace(RK::voltage, rounded(*volts * 1000));
    }
    if (auto amps = batteryAmps(*battery)) {
        r.emplace(RK::instantAmperage, rounded(*amps * 1000));
    }
    Capacities capacities = capacitiesOf(*battery);
    if (capacities.design) {
        r.emplace(RK::designCapacity, *capacities.design);
    }
    if (capacities.full) {
        r.emplace(RK::fullChargeCapacity, *capacities.full);
    }
    if (capacities.voltageSource) {
        r.emplace("CapacityVoltageSource", *capacities.voltageSource);
    }
    if (auto cycles = battery->integer("cycle_count"); cycles && *cycles >= 0) {
        r.emplace(RK::cycleCount, *cycles);
    }
    if (auto word = healthWord(battery->text("health").value_or(""))) {
        r.emplace(RK::batteryHealth, *word);
    }
    if (auto milliwatts = usbInputMilliwatts(external)) {
        r.emplace(RK::powerTelemetryData, LooseDictionary{{RK::systemPowerIn, *milliwatts}});
    }
    for (const PowerSupply& supply : external) {
        if (auto watts = ratedWatts(supply)) {
            r.emplace(RK::adapterDetails, LooseDictionary{{RK::watts, *watts}});
            break;
        }
    }
    return r;
}

} // namespace ventoral
