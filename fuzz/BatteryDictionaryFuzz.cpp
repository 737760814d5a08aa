// Loosely typed power-source and battery dictionaries, through the parsers, the power service
// and the panel states built from its readings.
#include "core/power/BatteryTelemetryParser.h"
#include "core/power/PowerBatteryService.h"
#include "core/power/PowerFlowDiagramState.h"
#include "core/power/PowerInfoBarState.h"
#include "fuzz/FuzzInput.h"

using namespace ventoral;

namespace {

const char* const knownKeys[] = {"Type",
                                 "InternalBattery",
                                 "Is Present",
                                 "Power Source State",
                                 "Is Charging",
                                 "Is Charged",
                                 "Current Capacity",
                                 "Max Capacity",
                                 "Time to Empty",
                                 "Time to Full Charge",
                                 "Watts",
                                 "ExternalConnected",
                                 "IsCharging",
                                 "CurrentCapacity",
                                 "Voltage",
                                 "InstantAmperage",
                                 "Amperage",
                                 "PowerTelemetryData",
                                 "SystemPowerIn",
                                 "AdapterDetails",
                                 "CycleCount",
                                 "BatteryData",
                                 "DesignCapacity",
                                 "AppleRawMaxCapacity",
                                 "FullChargeCapacity",
                                 "NominalChargeCapacity",
                                 "BatteryHealth",
                                 "BatteryHealthCondition",
                                 "PermanentFailureStatus",
                                 "PowerOutDetails",
                                 "PortIndex"};
const char* const knownTexts[] = {"AC Power", "Battery Power", "InternalBattery",
                                  "Good",     "Normal",        "Fair",
                                  "Poor",     "Check Battery", "Service Battery"};

LooseValue value(fuzz::FuzzInput& in, int depth);

LooseDictionary dictionary(fuzz::FuzzInput& in, int depth) {
    LooseDictionary d;
    int n = in.byte() % 10;
    for (int i = 0; i < n && !in.empty(); ++i) {
        std::string key = in.boolean() ? in.text(8) : in.pick(knownKeys);
        d.insert_or_assign(key, value(in, depth + 1));
    }
    return d;
}

LooseValue value(fuzz::FuzzInput& in, int depth) {
    switch (in.byte() % (depth > 4 ? 5 : 8)) {
    case 0:
        return LooseValue(in.raw<std::int64_t>());
    case 1:
        return LooseValue(in.raw<double>());
    case 2:
        return LooseValue(in.boolean());
    case 3:
        return LooseValue(static_cast<std::int64_t>(static_cast<std::int8_t>(in.byte())) * 100);
    case 4:
        return in.boolean() ? LooseValue(in.pick(knownTexts)) : LooseValue(in.text(12));
    case 5:
    case 6:
        return LooseValue(dictionary(in, depth));
    default: {
        LooseValue::Array a;
        int n = in.byte() % 6;
        for (int i = 0; i < n && !in.empty(); ++i) {
            a.push_back(value(in, depth + 1));
        }
        return LooseValue(a);
    }
    }
}

std::optional<double> maybeDouble(fuzz::FuzzInput& in) {
    if (!in.boolean()) {
        return std::nullopt;
    }
    return in.boolean() ? in.raw<double>() : static_cast<double>(in.byte()) - 20;
}

struct Sources : PowerSourceProvider {
    std::optional<std::vector<LooseDictionary>> descriptions;
    std::optional<LooseDictionary> adapter;
    LooseDictionary registry;
    std::optional<std::vector<LooseDictionary>> powerSourceDescriptions() override {
        return descriptions;
    }
    std::optional<LooseDictionary> externalAdapterDetails() override { return adapter; }
    LooseDictionary batteryRegistry() override { return registry; }
};

struct Topology : USBTopologyReader {
    USBPortTopologySnapshot topology;
    USBPortTopologySnapshot readTopology() override { return topology; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    auto sources = std::make_shared<Sources>();
    if (in.boolean()) {
        sources->descriptions = std::vector<LooseDictionary>{dictionary(in, 0)};
        if (in.boolean()) {
            sources->descriptions->push_back(dictionary(in, 0));
        }
    }
    if (in.boolean()) {
        sources->adapter = dictionary(in, 0);
    }
    sources->registry = dictionary(in, 0);

    auto topology = std::make_shared<Topology>();
    std::vector<USBPortTopologySnapshot::PortNode> ports;
    std::vector<USBPortTopologySnapshot::DeviceNode> devices;
    for (int i = in.byte() % 4; i > 0; --i) {
        ports.push_back({in.text(4), in.raw<std::int8_t>(), in.text(6)});
    }
    for (int i = in.byte() % 4; i > 0; --i) {
        devices.push_back({in.text(4), in.text(6), in.raw<std::int8_t>(), in.raw<std::int16_t>()});
    }
    std::optional<USBPortTopologySnapshot::PortNode> input;
    if (in.boolean()) {
        input = USBPortTopologySnapshot::PortNode{in.text(4), in.raw<std::int8_t>(), in.text(6)};
    }
    topology->topology = USBPortTopologySnapshot::make(ports, devices, input);
    (void)topology->topology.name(in.raw<std::int8_t>());

    SMCPowerReadings smc;
    smc.systemWatts = maybeDouble(in);
    smc.adapterInputWatts = maybeDouble(in);
    smc.batteryVolts = maybeDouble(in);
    smc.batteryAmps = maybeDouble(in);
    smc.displayWatts = maybeDouble(in);
    smc.batteryTemperatureCelsius = maybeDouble(in);
    if (in.boolean()) {
        std::vector<SMCPortRail> rails;
        for (int i = in.byte() % 5; i > 0; --i) {
            rails.push_back({in.raw<std::int8_t>(), in.raw<double>()});
        }
        smc.portRails = SMCPortOutputRails::measured(rails, {});
    }

    PowerBatteryPlatform platform;
    platform.readPowerSensors = [&] { return smc; };
    platform.powerSources = sources;
    platform.usbTopology = topology;
    platform.now = [] { return TimePoint{}; };
    platform.systemUptime = [] { return 1.0; };
    auto service = PowerBatteryService::make(platform);
    auto reading = service->readAll(false, false);
    service->drainBackgroundWork();
    (void)service->readLightweightMenuBarState(true);
    (void)reading.battery.summarySubtitle();
    (void)reading.battery.summaryTitle(reading.power.systemWatts);
    (void)PowerInfoBarState::make(reading.battery, reading.power);
    if (auto flow = PowerFlowDiagramState::resolve(reading.battery, reading.power)) {
        for (const auto& m : flow->destinations) {
            if (!(m.fraction >= 0 && m.fraction <= 1)) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
