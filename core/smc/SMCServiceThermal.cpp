#include "core/smc/SMCKeys.h"
#include "core/smc/SMCService.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace ventoral {
namespace {

struct SMCTemperatureKey {
    const char* key;
    const char* name;
    SensorCategory category;
};

constexpr SMCTemperatureKey temperatureKeys[] = {
    {SMCKey::cpuPerformanceCores, "CPU P-Core Temp", SensorCategory::cpu},
    {SMCKey::cpuEfficiencyCores, "CPU E-Core Temp", SensorCategory::cpu},
    {SMCKey::cpuCoreCluster, "CPU Core Cluster", SensorCategory::cpu},
    {SMCKey::cpuPackage, "CPU Proximity", SensorCategory::cpu},
    {SMCKey::gpu, "GPU Proximity", SensorCategory::gpu},
    {SMCKey::memory, "Memory Proximity", SensorCategory::system},
};

bool isPrimary(SensorCategory category) {
    return category == SensorCategory::cpu || category == SensorCategory::gpu ||
           category == SensorCategory::ane;
}

} // namespace

SensorCategory classifyThermalChannelName(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    struct Rule {
        std::initializer_list<const char*> words;
        SensorCategory category;
    };
    const Rule rules[] = {
        {{"die", "cpu", "core"}, SensorCategory::cpu},
        {{"gpu"}, SensorCategory::gpu},
        {{"ane", "npu", "neural"}, SensorCategory::ane},
        {{"batt", "gas gauge"}, SensorCategory::battery},
        {{"nand", "storage", "ssd"}, SensorCategory::storage},
    };
    for (const auto& rule : rules) {
        for (const char* word : rule.words) {
            if (lower.find(word) != std::string::npos) {
                return rule.category;
            }
        }
    }
    return SensorCategory::system;
}

void SMCService::appendHIDReadings(bool onlyPrimaryCategories, std::vector<ThermalSensor>& out) {
    if (!cachedHIDServices_) {
        auto services = hidClient_->copyServices();
        if (services.empty()) {
            return;
        }
        std::vector<CachedHIDChannel> channels;
        for (std::size_t i = 0; i < services.size(); ++i) {
            if (!services[i]) {
                continue;
            }
            std::string name = services[i]->product().value_or("Sensor " + std::to_string(i));
            channels.push_back(
                {i, "hid_" + std::to_string(i), name, classifyThermalChannelName(name)});
        }
        cachedHIDServices_ = std::move(services);
        cachedHIDChannels_ = std::move(channels);
    }
    for (const auto& channel : cachedHIDChannels_) {
        if (channel.index >= cachedHIDServices_->size()) {
            continue;
        }
        if (onlyPrimaryCategories && !isPrimary(channel.category)) {
            continue;
        }
        const auto& service = (*cachedHIDServices_)[channel.index];
        if (!service) {
            continue;
        }
        auto value = service->currentTemperature();
        if (value && std::isfinite(*value) && *value > 15 && *value < 135) {
            out.push_back({channel.id, channel.name, *value, channel.category});
        }
    }
}

std::vector<ThermalSensor> SMCService::readThermalSensors(bool onlyPrimaryCategories) {
    std::vector<ThermalSensor> sensors;
    std::shared_ptr<ThermalChannelSource> source;
    {
        std::lock_guard guard(hidLock_);
        source = hidClient_;
        if (hidClient_) {
            hidClient_->beginPass();
            appendHIDReadings(onlyPrimaryCategories, sensors);
        }
    }
    for (const auto& entry : temperatureKeys) {
        if (onlyPrimaryCategories && entry.category == SensorCategory::system) {
            continue;
        }
        auto value = readNumberOrNothing(entry.key);
        if (value && *value > 10 && *value < 130) {
            sensors.push_back(
                {std::string("smc_") + entry.key, entry.name, *value, entry.category});
        }
    }
    if (source) {
        source->endPass();
    }
    return sensors;
}

TelemetrySnapshot SMCService::readSnapshot(bool includeThermalSensors,
                                           bool onlyPrimaryThermalCategories) {
    TelemetrySnapshot snapshot;
    snapshot.fans = readFans();
    if (includeThermalSensors) {
        snapshot.sensors = readThermalSensors(onlyPrimaryThermalCategories);
    }
    snapshot.timestamp = clock_();
    return snapshot;
}

} // namespace ventoral
