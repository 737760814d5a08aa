#include "core/power/PowerFlowDiagramState.h"

#include "core/power/PowerFormatters.h"

#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

using Kind = PowerFlowDiagramState::Kind;

struct Destination {
    std::string id;
    Kind kind;
    std::string label;
    std::string help;
    double watts;
};

double atLeastZero(std::optional<double> value) {
    return value && *value > 0 ? *value : 0;
}

bool present(const std::optional<double>& value) {
    return value && std::isfinite(*value);
}

// The USB destinations: one for the total without port entries, else one per port.
void addUSB(std::vector<Destination>& out, const PowerTelemetrySnapshot& power, double usb,
            bool numberedHelp) {
    if (power.usbPorts.empty()) {
        out.push_back({"usb", Kind::usb, "USB Output", "USB / Thunderbolt accessory power", usb});
        return;
    }
    const bool several = numberedHelp && power.usbPorts.size() > 1;
    for (const USBPortPower& port : power.usbPorts) {
        const std::string channel = std::to_string(port.channel);
        out.push_back(
            {"usb_" + channel, Kind::usb, port.displayLabel(),
             several ? "Accessory USB-C output (Port " + channel + ")" : "Accessory USB-C output",
             port.watts});
    }
}

std::vector<PowerFlowDiagramState::Metric> metrics(const std::vector<Destination>& destinations) {
    double total = 0;
    for (const Destination& d : destinations) {
        total += d.watts;
    }
    std::vector<PowerFlowDiagramState::Metric> out;
    for (const Destination& d : destinations) {
        std::string value = std::isfinite(d.watts) ? PowerFormatters::watts(std::max(d.watts, 0.0))
                                                   : PowerText::missingValue;
        out.emplace_back(d.id, d.kind, value, d.label, std::nullopt, d.help, d.watts,
                         d.watts / std::max(total, 0.1));
    }
    return out;
}

} // namespace

PowerFlowDiagramState::Metric::Metric(std::string id_, Kind kind_, std::string value_,
                                      std::string label_, std::optional<std::string> detail_,
                                      std::optional<std::string> help_, double watts_,
                                      double fraction_)
    : id(std::move(id_)), kind(kind_), value(std::move(value_)), label(std::move(label_)),
      detail(std::move(detail_)), help(std::move(help_)), watts(watts_),
      fraction(std::isfinite(fraction_) ? std::clamp(fraction_, 0.0, 1.0) : 0.0) {}

std::string_view rawValue(PowerFlowDiagramState::Kind kind) {
    switch (kind) {
    case Kind::input:
        return "input";
    case Kind::batterySource:
        return "batterySource";
    case Kind::charging:
        return "charging";
    case Kind::display:
        return "display";
    case Kind::usb:
        return "usb";
    case Kind::system:
        return "system";
    }
    return "";
}

std::optional<PowerFlowDiagramState>
PowerFlowDiagramState::resolve(const BatteryStateSnapshot& battery,
                               const PowerTelemetrySnapshot& power) {
    const double charge = atLeastZero(power.chargingWatts());
    const double drain = atLeastZero(power.dischargingWatts());
    const double display =
        present(power.displayWatts) && *power.displayWatts >= 0.05 ? *power.displayWatts : 0;
    const bool showDisplay = display >= 0.1;
    const double usb =
        present(power.usbOutputWatts) && *power.usbOutputWatts >= 0.2 ? *power.usbOutputWatts : 0;
    const bool showUSB = usb != 0;
    const bool systemReading = present(power.systemWatts);
    const Destination displayBranch{"display", Kind::display, "Display",
                                    "Built-in display backlight (PDBR / PBLR)", display};

    PowerFlowDiagramState state;
    std::vector<Destination> destinations;

    if (present(power.adapterInputWatts) && *power.adapterInputWatts >= adapterFloor) {
        const double e = *power.adapterInputWatts;
        double residual = e - charge - display - usb;
        if (residual < -residualTolerance) {
            if (!systemReading || *power.systemWatts <= 0) {
                return std::nullopt;
            }
            residual = *power.systemWatts - display - usb;
        }
        if (charge >= 0.25) {
            destinations.push_back(
                {"charging", Kind::charging, "Charging", "Battery pack charging power", charge});
        }
        if (showDisplay) {
            destinations.push_back(displayBranch);
        }
        if (showUSB) {
            addUSB(destinations, power, usb, true);
        }
        destinations.push_back({"system", Kind::system, "System",
                                "SoC, memory, fans, storage & board residual",
                                std::max(residual, 0.1)});
        std::optional<std::string> detail = power.chargingPortType;
        if (!detail && power.adapterRatedWatts) {
            detail = std::to_string(*power.adapterRatedWatts) + " W";
        }
        state.input = Metric("input", Kind::input, PowerFormatters::watts(e), "Input", detail,
                             "External DC adapter input (PDTR)", e, 1);
    } else {
        double s = 0;
        if (drain >= batteryFloor) {
            s = drain;
        } else if (power.systemWatts && *power.systemWatts >= 1) {
            s = *power.systemWatts;
        } else {
            return std::nullopt;
        }
        if (!std::isfinite(s) || s <= 0) {
            return std::nullopt;
        }
        const double residual = s - display - usb;
        const char* systemHelp = "SoC, memory, fans, storage & board load";
        if (residual >= -residualTolerance) {
            if (showDisplay) {
                destinations.push_back(displayBranch);
            }
            if (showUSB) {
                addUSB(destinations, power, usb, false);
            }
            destinations.push_back(
                {"system", Kind::system, "System", systemHelp, std::max(residual, 0.1)});
        } else {
            destinations.push_back(
                {"system", Kind::system, "System", systemHelp, std::max(s, 0.1)});
        }
        if (drain >= batteryFloor || !battery.isConnectedToPower) {
            state.input = Metric("battery_source", Kind::batterySource, PowerFormatters::watts(s),
                                 "Battery", std::to_string(battery.percentage) + "%",
                                 "Battery discharge supplying Mac load", s, 1);
        } else {
            state.input = Metric("input", Kind::input, PowerFormatters::watts(s), "Input",
                                 power.chargingPortType, "External power source", s, 1);
        }
    }
    state.destinations = metrics(destinations);
    return state;
}

} // namespace ventoral
