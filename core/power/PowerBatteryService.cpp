#include "core/power/PowerBatteryService.h"

#include "core/common/Format.h"

#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

namespace P = BatteryTelemetryParser;
namespace DK = PowerSourceKey;
namespace RK = BatteryRegistryKey;

constexpr auto topologyLifetime = std::chrono::seconds(6);

std::optional<double> within(std::optional<double> value, double lo, double hi) {
    if (value && std::isfinite(*value) && *value >= lo && *value <= hi) {
        return value;
    }
    return std::nullopt;
}

std::optional<std::int64_t> withinInteger(std::optional<std::int64_t> value, std::int64_t lo,
                                          std::int64_t hi) {
    if (value && *value >= lo && *value <= hi) {
        return value;
    }
    return std::nullopt;
}

const LooseValue* memberOf(const std::optional<LooseDictionary>& d, const char* key) {
    return d ? member(*d, key) : nullptr;
}

// A percentage from current and maximum capacity, when both are usable.
std::optional<int> capacityPercentage(const std::optional<LooseDictionary>& d) {
    auto current = P::integerValue(memberOf(d, DK::currentCapacity));
    auto maximum = P::integerValue(memberOf(d, DK::maxCapacity));
    if (!current || !maximum || *maximum <= 0) {
        return std::nullopt;
    }
    double percent =
        roundHalfAway(static_cast<double>(*current) / static_cast<double>(*maximum) * 100);
    return static_cast<int>(std::clamp(percent, 0.0, 100.0));
}

std::optional<std::int64_t> timeToEmpty(const std::optional<LooseDictionary>& d, bool connected) {
    if (connected) {
        return std::nullopt;
    }
    return withinInteger(P::integerValue(memberOf(d, DK::timeToEmpty)), 1, 10080);
}

bool isACPower(const std::optional<LooseDictionary>& d) {
    const LooseValue* state = memberOf(d, DK::powerSourceState);
    return state && state->text() && *state->text() == DK::acPower;
}

} // namespace

std::shared_ptr<PowerBatteryService> PowerBatteryService::make(PowerBatteryPlatform platform) {
    return std::shared_ptr<PowerBatteryService>(new PowerBatteryService(std::move(platform)));
}

PowerBatteryService::PowerBatteryService(PowerBatteryPlatform platform)
    : platform_(std::move(platform)) {}

bool PowerBatteryService::lowPowerMode() {
    return platform_.isLowPowerModeEnabled && platform_.isLowPowerModeEnabled();
}

LooseDictionary PowerBatteryService::readSmartBatteryRegistry() {
    return platform_.powerSources ? platform_.powerSources->batteryRegistry() : LooseDictionary{};
}

std::optional<LooseDictionary> PowerBatteryService::readIOPowerSourceDescription() {
    if (!platform_.powerSources) {
        return std::nullopt;
    }
    auto sources = platform_.powerSources->powerSourceDescriptions();
    if (!sources || sources->empty()) {
        return std::nullopt;
    }
    for (const LooseDictionary& description : *sources) {
        const LooseValue* type = member(description, DK::type);
        if (type && type->text() && *type->text() == DK::internalBattery) {
            return description;
        }
    }
    return sources->front();
}

std::optional<std::int64_t> PowerBatteryService::readExternalAdapterRatedWatts() {
    if (!platform_.powerSources) {
        return std::nullopt;
    }
    auto details = platform_.powerSources->externalAdapterDetails();
    return details ? P::integerValue(member(*details, DK::watts)) : std::nullopt;
}

PowerBatteryReading PowerBatteryService::readAll(bool includeSystemProfilerSync,
                                                 bool includeTopApps,
                                                 std::function<void()> onAsyncUpdate) {
    const SMCPowerReadings s =
        platform_.readPowerSensors ? platform_.readPowerSensors() : SMCPowerReadings{};
    const LooseDictionary r = readSmartBatteryRegistry();
    const std::optional<LooseDictionary> d = readIOPowerSourceDescription();
    const std::optional<std::int64_t> a = readExternalAdapterRatedWatts();

    const bool isPresent = P::boolValue(memberOf(d, DK::isPresent)).value_or(!r.empty());
    const LooseValue* state = memberOf(d, DK::powerSourceState);
    const bool connected = state && state->text()
                               ? *state->text() == DK::acPower
                               : P::boolValue(member(r, RK::externalConnected)).value_or(false);
    const bool charging = P::boolValue(memberOf(d, DK::isCharging))
                              .value_or(P::boolValue(member(r, RK::isCharging)).value_or(false));
    const bool charged = P::boolValue(memberOf(d, DK::isCharged)).value_or(connected && !charging);

    int percentage = 100;
    if (auto fromDescription = capacityPercentage(d)) {
        percentage = *fromDescription;
    } else if (auto current = P::integerValue(member(r, RK::currentCapacity))) {
        percentage = *current >= 100 ? 100 : *current < 0 ? 0 : static_cast<int>(*current);
    }

    BatteryChargeTimeState chargeTime = BatteryChargeTimeState::unavailable();
    if (d) {
        chargeTime = P::parseChargeTime(*d, connected);
    } else if (isPresent && connected) {
        chargeTime = charging  ? BatteryChargeTimeState::calculating()
                     : charged ? BatteryChargeTimeState::charged()
                               : BatteryChargeTimeState::paused();
    }
    BatteryStateSnapshot battery(isPresent, percentage, charging, charged, connected,
                                 lowPowerMode(), timeToEmpty(d, connected), chargeTime);

    const USBPortTopologySnapshot topology = resolveTopology(connected);

    PowerTelemetrySnapshot power;
    power.batteryVolts = s.batteryVolts;
    if (!power.batteryVolts) {
        auto millivolts = P::doubleValue(member(r, RK::voltage));
        power.batteryVolts = within(millivolts ? *millivolts / 1000 : millivolts, 1, 30);
    }
    power.batteryAmps = s.batteryAmps;
    if (!power.batteryAmps) {
        auto milliamps = P::doubleValue(member(r, RK::instantAmperage));
        if (!milliamps) {
            milliamps = P::doubleValue(member(r, RK::amperage));
        }
        if (milliamps && std::fabs(*milliamps / 1000) <= 30) {
            power.batteryAmps = *milliamps / 1000;
        }
    }
    if (s.adapterInputWatts) {
        power.adapterInputWatts =
            *s.adapterInputWatts < 1 && !connected ? 0.0 : *s.adapterInputWatts;
    } else if (!connected) {
        power.adapterInputWatts = 0.0;
    } else if (const auto* telemetry = memberDictionary(r, RK::powerTelemetryData)) {
        auto milliwatts = P::doubleValue(member(*telemetry, RK::systemPowerIn));
        power.adapterInputWatts = within(milliwatts ? *milliwatts / 1000 : milliwatts, 0, 1000);
    }
    power.adapterRatedWatts = withinInteger(a, 1, 500);
    if (!power.adapterRatedWatts) {
        if (const auto* details = memberDictionary(r, RK::adapterDetails)) {
            power.adapterRatedWatts =
                withinInteger(P::integerValue(member(*details, RK::watts)), 1, 500);
        }
    }
    if (auto usb = P::resolveUSBPorts(s.portRails, r, topology)) {
        power.usbOutputWatts = usb->totalWatts;
        power.usbPorts = std::move(usb->ports);
    }
    power.systemWatts = s.systemWatts;
    power.displayWatts = s.displayWatts;
    power.socPackageWatts = s.socPackageWatts;
    power.chargingPortType = connected ? topology.inputPortType : std::nullopt;
    power.readAt = s.readAt;

    if (includeSystemProfilerSync) {
        refreshSystemProfilerSynchronously();
    } else {
        triggerSystemProfilerRefreshIfNeeded(onAsyncUpdate);
    }
    std::optional<ProfilerCacheEntry> cache;
    {
        std::lock_guard guard(lock_);
        cache = profilerCache_;
    }

    BatteryHealthSnapshot health;
    const P::CapacityResult capacity = P::parseCapacity(r);
    health.designCapacityMAh = capacity.designMAh;
    health.maximumCapacityMAh = capacity.maximumMAh;
    health.healthPercent = capacity.healthPercent;
    health.maximumCapacityPercent = cache ? cache->maximumCapacityPercent : std::nullopt;
    health.cycleCount = withinInteger(P::integerValue(member(r, RK::cycleCount)), 0, 20000);
    if (!health.cycleCount && cache) {
        health.cycleCount = cache->cycleCount;
    }
    health.condition = P::parseCondition(r);
    if (!health.condition && cache) {
        health.condition = cache->condition;
    }
    health.temperatureCelsius = s.batteryTemperatureCelsius;
    health.uptimeSeconds = platform_.systemUptime ? platform_.systemUptime() : 0;

    if (includeTopApps) {
        triggerAppEnergySampleIfNeeded(onAsyncUpdate);
    }
    std::vector<AppEnergyEntry> topApps;
    {
        std::lock_guard guard(lock_);
        topApps = cachedTopApps_;
    }
    return {battery, power, health, topApps};
}

LightweightBatteryReading PowerBatteryService::readLightweightMenuBarState(bool needsSystemWatts) {
    const std::optional<LooseDictionary> d = readIOPowerSourceDescription();
    const bool isPresent = P::boolValue(memberOf(d, DK::isPresent)).value_or(true);
    const bool connected = isACPower(d);
    const bool charging = P::boolValue(memberOf(d, DK::isCharging)).value_or(false);
    const bool charged = P::boolValue(memberOf(d, DK::isCharged)).value_or(connected && !charging);
    BatteryStateSnapshot battery(isPresent, capacityPercentage(d).value_or(100), charging, charged,
                                 connected, lowPowerMode(), timeToEmpty(d, connected),
                                 d ? P::parseChargeTime(*d, connected)
                                   : BatteryChargeTimeState::unavailable());
    std::optional<double> systemWatts;
    if (needsSystemWatts && platform_.readSystemPowerScalar) {
        auto watts = platform_.readSystemPowerScalar();
        if (watts && *watts > 0 && *watts <= 1000) {
            systemWatts = watts;
        }
    }
    return {battery, systemWatts};
}

USBPortTopologySnapshot PowerBatteryService::resolveTopology(bool isConnectedToPower) {
    {
        std::lock_guard guard(lock_);
        bool stale = !lastExternalConnected_ || *lastExternalConnected_ != isConnectedToPower ||
                     !(platform_.now() < topologyExpiresAt_);
        if (!stale) {
            return cachedTopology_;
        }
    }
    USBPortTopologySnapshot topology = platform_.usbTopology ? platform_.usbTopology->readTopology()
                                                             : USBPortTopologySnapshot::empty();
    std::lock_guard guard(lock_);
    cachedTopology_ = topology;
    lastExternalConnected_ = isConnectedToPower;
    topologyExpiresAt_ = platform_.now() + topologyLifetime;
    return topology;
}

void PowerBatteryService::startPowerSourceMonitoring(std::function<void()> onChange) {
    {
        std::lock_guard guard(lock_);
        powerSourceChangeHandler_ = std::make_shared<std::function<void()>>(std::move(onChange));
        if (monitoring_ || !platform_.monitor) {
            return;
        }
        monitoring_ = true;
    }
    std::weak_ptr<PowerBatteryService> weak = weak_from_this();
    bool started = platform_.monitor->start([weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        std::shared_ptr<std::function<void()>> handler;
        {
            std::lock_guard guard(self->lock_);
            handler = self->powerSourceChangeHandler_;
        }
        if (handler && *handler) {
            (*handler)();
        }
    });
    if (!started) {
        std::lock_guard guard(lock_);
        monitoring_ = false;
    }
}

} // namespace ventoral
