#include "core/power/PowerBatteryService.h"

#include "core/common/Format.h"

#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

namespace P = BatteryTelemetryParser;
namespace DK = PowerSourceKey;
namespace RK = BatteryRegistryKey;
using std::chrono::duration_cast;
using Seconds = std::chrono::duration<double>;

constexpr double profilerSyncTimeout = 2.5;
constexpr double profilerBackgroundTimeout = 3.0;
constexpr auto failedProfilerLifetime = std::chrono::seconds(60);
constexpr auto goodProfilerLifetime = std::chrono::seconds(600);
constexpr auto topologyLifetime = std::chrono::seconds(6);
constexpr double energySampleInterval = 3.5;
constexpr std::size_t maximumProcessIds = 8128;
constexpr std::size_t processIdSlack = 64;
constexpr std::size_t ownerCacheSlack = 64;
constexpr std::size_t topAppsLimit = 5;

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

// The application that owns an executable: the outermost bundle holding it (the first in list
// order on a tie). A bundle that is a program file owns exactly that file.
std::optional<RunningApplication> ownerOf(const std::string& path,
                                          const std::vector<RunningApplication>& apps) {
    const RunningApplication* best = nullptr;
    for (const RunningApplication& app : apps) {
        bool inside = path == app.id || path.rfind(app.id + "/", 0) == 0;
        if (inside && (!best || app.id.size() < best->id.size())) {
            best = &app;
        }
    }
    return best ? std::optional(*best) : std::nullopt;
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
        refreshSystemProfilerSynchronously(profilerSyncTimeout);
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

PowerBatteryService::ProfilerCacheEntry
PowerBatteryService::runSystemProfilerBounded(const BoundedProgramRunner& runner,
                                              const WallClock& now, double timeout) {
    const TimePoint t0 = now();
    const ProfilerCacheEntry failed{std::nullopt, std::nullopt, std::nullopt,
                                    t0 + failedProfilerLifetime};
    if (!runner) {
        return failed;
    }
    BoundedRunResult run = runner({"SPPowerDataType", "-json", "-detailLevel", "mini"}, timeout);
    if (!run.started || run.timedOut || run.exitStatus != 0 || run.output.empty()) {
        return failed;
    }
    auto parsed = P::parseSystemProfiler(run.output);
    const bool nothing = !parsed.condition && !parsed.maximumCapacityPercent;
    return {parsed.condition, parsed.maximumCapacityPercent, parsed.cycleCount,
            t0 + (nothing ? failedProfilerLifetime : goodProfilerLifetime)};
}

void PowerBatteryService::refreshSystemProfilerSynchronously(double timeout) {
    {
        std::lock_guard guard(lock_);
        if (profilerCache_ && platform_.now() < profilerCache_->expiresAt) {
            return;
        }
    }
    auto entry = runSystemProfilerBounded(platform_.runProfiler, platform_.now, timeout);
    std::lock_guard guard(lock_);
    profilerCache_ = entry;
}

void PowerBatteryService::triggerSystemProfilerRefreshIfNeeded(std::function<void()> onComplete) {
    {
        std::lock_guard guard(lock_);
        if (isProfilerRefreshing_ ||
            (profilerCache_ && platform_.now() < profilerCache_->expiresAt)) {
            return;
        }
        isProfilerRefreshing_ = true;
    }
    std::weak_ptr<PowerBatteryService> weak = weak_from_this();
    backgroundQueue_.async([weak, onComplete = std::move(onComplete)] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        auto entry = runSystemProfilerBounded(self->platform_.runProfiler, self->platform_.now,
                                              profilerBackgroundTimeout);
        {
            std::lock_guard guard(self->lock_);
            self->profilerCache_ = entry;
            self->isProfilerRefreshing_ = false;
        }
        if (onComplete && self->platform_.postToMain) {
            self->platform_.postToMain(onComplete);
        }
    });
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

void PowerBatteryService::triggerAppEnergySampleIfNeeded(std::function<void()> onComplete) {
    const double t = platform_.systemUptime ? platform_.systemUptime() : 0;
    {
        std::lock_guard guard(lock_);
        if (isSamplingApps_ ||
            (t - lastEnergySampleTime_ < energySampleInterval && !lastProcessSamples_.empty())) {
            return;
        }
        isSamplingApps_ = true;
    }
    std::vector<RunningApplication> apps =
        platform_.applications ? platform_.applications->list() : std::vector<RunningApplication>{};
    std::weak_ptr<PowerBatteryService> weak = weak_from_this();
    backgroundQueue_.async([weak, apps = std::move(apps), onComplete = std::move(onComplete)] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        bool changed = self->sampleProcessEnergy(apps);
        {
            std::lock_guard guard(self->lock_);
            self->isSamplingApps_ = false;
        }
        if (changed && onComplete && self->platform_.postToMain) {
            self->platform_.postToMain(onComplete);
        }
    });
}

bool PowerBatteryService::sampleProcessEnergy(const std::vector<RunningApplication>& runningApps) {
    const double t = platform_.systemUptime ? platform_.systemUptime() : 0;
    ProcessTable* table = platform_.processes.get();
    if (runningApps.empty() || !table) {
        return false;
    }
    const std::int64_t bytes = table->processListBytes();
    if (bytes <= 0) {
        return false;
    }
    const std::size_t room =
        std::min(static_cast<std::size_t>(bytes) / 4, maximumProcessIds) + processIdSlack;
    std::vector<std::int32_t> pids = table->listProcessIds(room);
    if (pids.size() > room) {
        pids.resize(room);
    }

    double t0 = 0;
    std::map<ProcessSampleKey, ProcessCounterSample> old;
    std::map<ProcessSampleKey, Owner> owners;
    {
        std::lock_guard guard(lock_);
        t0 = lastEnergySampleTime_;
        old = lastProcessSamples_;
        owners = pidOwnerCache_;
    }

    std::map<ProcessSampleKey, ProcessCounterSample> fresh;
    std::vector<ProcessSampleKey> seen;
    for (std::int32_t pid : pids) {
        if (pid <= 0) {
            continue;
        }
        auto usage = table->usage(pid);
        if (!usage) {
            continue;
        }
        const ProcessSampleKey key{pid, usage->startTime};
        seen.push_back(key);
        const std::optional<std::uint64_t> energy =
            usage->energyNanojoules == 0 ? std::nullopt : std::optional(usage->energyNanojoules);
        if (auto previous = old.find(key);
            previous != old.end() && previous->second.cpuNanoseconds == usage->cpuNanoseconds &&
            previous->second.energyNanojoules == energy) {
            fresh.emplace(key, previous->second);
            continue;
        }
        Owner owner;
        if (auto cached = owners.find(key); cached != owners.end()) {
            owner = cached->second;
        } else {
            auto path = table->executablePath(pid);
            owner = path ? ownerOf(*path, runningApps) : std::nullopt;
            owners[key] = owner;
        }
        if (owner) {
            fresh[key] = {owner->id, owner->name, usage->cpuNanoseconds, energy};
        }
    }
    if (owners.size() > seen.size() + ownerCacheSlack) {
        std::map<ProcessSampleKey, Owner> kept;
        for (const ProcessSampleKey& key : seen) {
            if (auto found = owners.find(key); found != owners.end()) {
                kept.insert(*found);
            }
        }
        owners = std::move(kept);
    }

    std::vector<AppEnergyEntry> previousList;
    {
        std::lock_guard guard(lock_);
        lastEnergySampleTime_ = t;
        lastProcessSamples_ = fresh;
        pidOwnerCache_ = owners;
        previousList = cachedTopApps_;
    }
    const double dt = t - t0;
    if (!(t0 > 0) || dt < 0.5 || dt > 30 || old.empty()) {
        return false;
    }

    struct Total {
        std::string id, name;
        double watts = 0, percent = 0;
    };
    std::vector<Total> totals;
    auto totalFor = [&](const ProcessCounterSample& sample) -> Total& {
        for (Total& total : totals) {
            if (total.id == sample.appId) {
                return total;
            }
        }
        totals.push_back({sample.appId, sample.appName});
        return totals.back();
    };
    bool hasEnergyData = false;
    for (const auto& [key, sample] : fresh) {
        auto previous = old.find(key);
        if (previous == old.end()) {
            continue;
        }
        const ProcessCounterSample& before = previous->second;
        Total& total = totalFor(sample);
        if (sample.energyNanojoules && before.energyNanojoules &&
            *sample.energyNanojoules >= *before.energyNanojoules) {
            hasEnergyData = true;
            double watts =
                static_cast<double>(*sample.energyNanojoules - *before.energyNanojoules) / 1e9 / dt;
            if (std::isfinite(watts)) {
                total.watts += watts;
            }
        }
        if (sample.cpuNanoseconds >= before.cpuNanoseconds) {
            double percent =
                static_cast<double>(sample.cpuNanoseconds - before.cpuNanoseconds) / 1e9 / dt * 100;
            if (std::isfinite(percent)) {
                total.percent += percent;
            }
        }
    }

    std::vector<Total> ranked;
    for (const Total& total : totals) {
        if (hasEnergyData ? total.watts >= 0.05 : total.percent >= 0.5) {
            ranked.push_back(total);
        }
    }
    std::stable_sort(ranked.begin(), ranked.end(), [&](const Total& a, const Total& b) {
        return hasEnergyData ? a.watts > b.watts : a.percent > b.percent;
    });
    if (ranked.size() > topAppsLimit) {
        ranked.resize(topAppsLimit);
    }
    std::vector<AppEnergyEntry> list;
    for (const Total& total : ranked) {
        AppEnergyEntry entry;
        entry.id = total.id;
        entry.bundlePath = total.id;
        entry.name = total.name;
        if (hasEnergyData) {
            entry.rawScore = total.watts;
            entry.basis = AppEnergyBasis::cpuEnergy;
            entry.valueText = total.watts >= 1 ? cformat("%.1f W", total.watts)
                                               : cformat("%.0f mW", total.watts * 1000);
        } else {
            entry.rawScore = total.percent;
            entry.basis = AppEnergyBasis::cpuActivity;
            entry.valueText = cformat("%.1f%%", total.percent);
        }
        list.push_back(std::move(entry));
    }
    {
        std::lock_guard guard(lock_);
        cachedTopApps_ = list;
    }
    return list != previousList;
}

} // namespace ventoral
