#pragma once

#include "core/power/BatteryStateSnapshot.h"
#include "core/power/LooseValue.h"
#include "core/power/PowerTelemetrySnapshot.h"
#include "core/power/USBPortTopologySnapshot.h"
#include "core/smc/SMCService.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventoral {

// Pure conversions from the platform's loosely typed battery data to the power records. Bad
// input never fails: it reads as unknown.
namespace BatteryTelemetryParser {

// A USB-C port delivering less than this is idle.
inline constexpr double usbChargingFloorWatts = 0.2;

struct CapacityResult {
    std::optional<std::int64_t> designMAh;
    std::optional<std::int64_t> maximumMAh;
    std::optional<double> healthPercent;
    friend bool operator==(const CapacityResult&, const CapacityResult&) = default;
};

struct SystemProfilerResult {
    std::optional<BatteryCondition> condition;
    std::optional<double> maximumCapacityPercent;
    std::optional<std::int64_t> cycleCount;
    friend bool operator==(const SystemProfilerResult&, const SystemProfilerResult&) = default;
};

struct USBPortsResult {
    double totalWatts = 0;
    std::vector<USBPortPower> ports;
    friend bool operator==(const USBPortsResult&, const USBPortsResult&) = default;
};

// Conversions of one value; none (nullptr) is an absent value.
std::optional<bool> boolValue(const LooseValue* value);
std::optional<std::int64_t> integerValue(const LooseValue* value);
std::optional<double> doubleValue(const LooseValue* value);
std::optional<std::int64_t> milliampHours(const LooseValue* value);

// "87%" or " 87.5 % " → 87, 87.5; only 1...100.
std::optional<double> percent(std::string_view reported);
std::optional<double> healthPercent(std::optional<std::int64_t> maximumMAh,
                                    std::optional<std::int64_t> designMAh);

BatteryChargeTimeState parseChargeTime(const LooseDictionary& description, bool isConnectedToPower);
CapacityResult parseCapacity(const LooseDictionary& registry);
std::optional<BatteryCondition> parseCondition(const LooseDictionary& registry);
SystemProfilerResult parseSystemProfiler(std::string_view jsonData);
std::optional<USBPortsResult> resolveUSBPorts(const SMCPortOutputRails& portRails,
                                              const LooseDictionary& registry,
                                              const USBPortTopologySnapshot& topology);

} // namespace BatteryTelemetryParser

// The keys of the power-source description, the adapter details and the battery registry.
namespace PowerSourceKey {
inline constexpr const char* type = "Type";
inline constexpr const char* internalBattery = "InternalBattery";
inline constexpr const char* isPresent = "Is Present";
inline constexpr const char* powerSourceState = "Power Source State";
inline constexpr const char* acPower = "AC Power";
inline constexpr const char* batteryPower = "Battery Power";
inline constexpr const char* isCharging = "Is Charging";
inline constexpr const char* isCharged = "Is Charged";
inline constexpr const char* currentCapacity = "Current Capacity";
inline constexpr const char* maxCapacity = "Max Capacity";
inline constexpr const char* timeToEmpty = "Time to Empty";
inline constexpr const char* timeToFullCharge = "Time to Full Charge";
inline constexpr const char* name = "Name";
inline constexpr const char* watts = "Watts";
} // namespace PowerSourceKey

namespace BatteryRegistryKey {
inline constexpr const char* externalConnected = "ExternalConnected";
inline constexpr const char* isCharging = "IsCharging";
inline constexpr const char* currentCapacity = "CurrentCapacity";
inline constexpr const char* voltage = "Voltage";
inline constexpr const char* instantAmperage = "InstantAmperage";
inline constexpr const char* amperage = "Amperage";
inline constexpr const char* powerTelemetryData = "PowerTelemetryData";
inline constexpr const char* systemPowerIn = "SystemPowerIn";
inline constexpr const char* adapterDetails = "AdapterDetails";
inline constexpr const char* watts = "Watts";
inline constexpr const char* cycleCount = "CycleCount";
inline constexpr const char* batteryData = "BatteryData";
inline constexpr const char* designCapacity = "DesignCapacity";
inline constexpr const char* appleRawMaxCapacity = "AppleRawMaxCapacity";
inline constexpr const char* fullChargeCapacity = "FullChargeCapacity";
inline constexpr const char* nominalChargeCapacity = "NominalChargeCapacity";
inline constexpr const char* batteryHealth = "BatteryHealth";
inline constexpr const char* batteryHealthCondition = "BatteryHealthCondition";
inline constexpr const char* permanentFailureStatus = "PermanentFailureStatus";
inline constexpr const char* powerOutDetails = "PowerOutDetails";
inline constexpr const char* portIndex = "PortIndex";
} // namespace BatteryRegistryKey

} // namespace ventoral
