#include "core/smc/SMCService.h"

#include "core/common/Format.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace ventoral {
namespace {

std::string fanKey(std::int64_t index, const char* suffix) {
    return "F" + std::to_string(index) + suffix;
}

struct SMCTemperatureKey {
    const char* key;
    const char* name;
    SensorCategory category;
};

constexpr SMCTemperatureKey temperatureKeys[] = {
    {"Tp09", "CPU P-Core Temp", SensorCategory::cpu},
    {"Tp0T", "CPU E-Core Temp", SensorCategory::cpu},
    {"Tc0c", "CPU Core Cluster", SensorCategory::cpu},
    {"TC0P", "CPU Proximity", SensorCategory::cpu},
    {"TG0P", "GPU Proximity", SensorCategory::gpu},
    {"Tm0P", "Memory Proximity", SensorCategory::system},
};

std::string fanName(std::int64_t index, std::int64_t count) {
    if (count == 1) {
        return "Main Fan";
    }
    if (index == 0) {
        return "Left Fan (CPU)";
    }
    if (index == 1) {
        return "Right Fan (GPU)";
    }
    return "Fan " + std::to_string(index + 1);
}

bool isPrimary(SensorCategory category) {
    return category == SensorCategory::cpu || category == SensorCategory::gpu ||
           category == SensorCategory::ane;
}

std::vector<std::uint8_t> leadingBytes(const SMCKeyData_t& record, std::uint32_t dataSize) {
    std::size_t n = std::min<std::size_t>(dataSize, sizeof record.bytes);
    return {record.bytes, record.bytes + n};
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

SMCService::SMCService(std::unique_ptr<SmcTransport> transport,
                       std::shared_ptr<ThermalChannelSource> thermalChannels, WallClock clock)
    : transport_(std::move(transport)), clock_(std::move(clock)),
      hidClient_(std::move(thermalChannels)) {
    std::lock_guard guard(lock_);
    transport_->open();
}

SMCService::~SMCService() {
    close();
}

bool SMCService::open() {
    std::lock_guard guard(lock_);
    return transport_->isOpen() || transport_->open();
}

void SMCService::close() {
    std::lock_guard guard(lock_);
    if (transport_->isOpen()) {
        transport_->close();
    }
}

SmcTransport::Reply SMCService::callUnlocked(SMCKeyData_t& input) {
    if (!transport_->isOpen() && !transport_->open()) {
        return {SMCReturn::notOpen, {}};
    }
    return transport_->call(toBytes(input));
}

SMCKeyInfo SMCService::readKeyInfo(const std::string& key) {
    std::lock_guard guard(lock_);
    return readKeyInfoUnlocked(key);
}

SMCKeyInfo SMCService::readKeyInfoUnlocked(const std::string& key) {
    if (missingKeys_.contains(key)) {
        throw SMCError::keyNotFound(key);
    }
    if (auto it = cachedKeyInfo_.find(key); it != cachedKeyInfo_.end()) {
        return it->second;
    }
    SMCKeyData_t input = zeroRecord();
    input.key = fourCharCode(key);
    input.data8 = SMCCommand::readKeyInfo;
    auto reply = callUnlocked(input);
    SMCKeyData_t output = fromBytes(reply.output);
    if (reply.kernelReturn != SMCReturn::success) {
        throw SMCError::callFailed(reply.kernelReturn, output.result);
    }
    if (output.result != 0) {
        missingKeys_.insert(key);
        throw SMCError::keyNotFound(key);
    }
    SMCKeyInfo info{output.keyInfo.dataSize, stringFromFourCharCode(output.keyInfo.dataType)};
    cachedKeyInfo_.emplace(key, info);
    return info;
}

SMCService::BytesReply SMCService::readBytesUnlocked(const std::string& key,
                                                     const SMCKeyInfo& info) {
    SMCKeyData_t input = zeroRecord();
    input.key = fourCharCode(key);
    input.keyInfo.dataSize = info.dataSize;
    input.data8 = SMCCommand::readBytes;
    auto reply = callUnlocked(input);
    SMCKeyData_t output = fromBytes(reply.output);
    return {reply.kernelReturn, output.result, leadingBytes(output, info.dataSize)};
}

SMCRawValue SMCService::readKeyRaw(const std::string& key) {
    std::lock_guard guard(lock_);
    SMCKeyInfo info = readKeyInfoUnlocked(key);
    auto reply = readBytesUnlocked(key, info);
    if (reply.kernelReturn != SMCReturn::success) {
        throw SMCError::callFailed(reply.kernelReturn, reply.result);
    }
    if (reply.result != 0) {
        throw SMCError::keyNotFound(key);
    }
    return {std::move(reply.bytes), info.dataType};
}

double SMCService::readNumber(const std::string& key) {
    auto raw = readKeyRaw(key);
    return decodeSMCNumber(raw.bytes, raw.dataType);
}

SMCCachedRead SMCService::readCachedKeyRawUnlocked(const std::string& key) {
    if (missingKeys_.contains(key)) {
        return {}; // the common case on every tick: answer without raising
    }
    SMCKeyInfo info;
    try {
        // A refused key is remembered as missing; a failed call is not.
        info = readKeyInfoUnlocked(key);
    } catch (const SMCError&) {
        return {};
    }
    auto reply = readBytesUnlocked(key, info);
    if (reply.kernelReturn != SMCReturn::success || reply.result != 0) {
        return {true, {}, info.dataType};
    }
    return {true, std::move(reply.bytes), info.dataType};
}

SMCPowerScalar SMCService::decodePowerScalarUnlocked(const std::string& key) {
    auto read = readCachedKeyRawUnlocked(key);
    if (!read.acknowledged) {
        return {};
    }
    return {true, decodeSMCPowerScalar(read.bytes, read.dataType)};
}

void SMCService::writeKeyRaw(const std::string& key, std::span<const std::uint8_t> bytes,
                             std::optional<std::string> dataType) {
    SMCKeyInfo info;
    {
        std::lock_guard guard(lock_);
        info = readKeyInfoUnlocked(key);
    }
    std::lock_guard guard(lock_);
    SMCKeyData_t input = zeroRecord();
    input.key = fourCharCode(key);
    input.keyInfo.dataSize = info.dataSize;
    input.keyInfo.dataType = fourCharCode(dataType.value_or(info.dataType));
    input.data8 = SMCCommand::writeBytes;
    std::copy_n(bytes.begin(), std::min(bytes.size(), sizeof input.bytes), input.bytes);
    auto reply = callUnlocked(input);
    if (reply.kernelReturn == SMCReturn::notPrivileged ||
        reply.kernelReturn == SMCReturn::notPermitted) {
        throw SMCError::privilegedRequired();
    }
    SMCKeyData_t output = fromBytes(reply.output);
    if (reply.kernelReturn != SMCReturn::success || output.result != 0) {
        throw SMCError::callFailed(reply.kernelReturn, output.result);
    }
}

std::optional<double> SMCService::readNumberOrNothing(const std::string& key) {
    {
        std::lock_guard guard(lock_);
        if (missingKeys_.contains(key)) {
            return std::nullopt; // probed on every tick: answer without raising
        }
    }
    try {
        double value = readNumber(key);
        return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
    } catch (const SMCError&) {
        return std::nullopt;
    }
}

int SMCService::readFanCount() {
    auto count = readNumberOrNothing("FNum");
    if (!count) {
        return 0;
    }
    return static_cast<int>(std::clamp(std::trunc(*count), 0.0, 16.0));
}

SMCService::FanBounds SMCService::fanBounds(std::int64_t index) {
    {
        std::lock_guard guard(lock_);
        if (auto it = fanBoundsCache_.find(index); it != fanBoundsCache_.end()) {
            return it->second;
        }
    }
    double min = readNumberOrNothing(fanKey(index, "Mn")).value_or(1200);
    double max = readNumberOrNothing(fanKey(index, "Mx")).value_or(6500);
    min = std::max(min, 0.0);
    max = std::max(max, min + 100);
    FanBounds bounds{static_cast<float>(min), static_cast<float>(max)};
    std::lock_guard guard(lock_);
    fanBoundsCache_[index] = bounds;
    return bounds;
}

std::vector<FanInfo> SMCService::readFans() {
    auto count = readNumberOrNothing("FNum");
    if (!count) {
        return {};
    }
    // Clamped before the conversion: a wild count must not overflow it.
    const auto n = static_cast<std::int64_t>(std::clamp(std::trunc(*count), 0.0, 16.0));
    if (n < 1) {
        return {};
    }
    auto mask = static_cast<std::uint32_t>(
        std::trunc(std::clamp(readNumberOrNothing("FS! ").value_or(0), 0.0, 65535.0)));

    std::vector<FanInfo> fans;
    for (std::int64_t i = 0; i < n; ++i) {
        double actual = std::max(readNumberOrNothing(fanKey(i, "Ac")).value_or(0), 0.0);
        FanBounds bounds = fanBounds(i);
        auto targetValue = readNumberOrNothing(fanKey(i, "Tg"));
        double target = targetValue ? std::max(*targetValue, 0.0) : bounds.minRPM;
        FanMode mode = FanMode::automatic;
        if (auto md = readNumberOrNothing(fanKey(i, "Md"))) {
            mode = std::trunc(*md) != 0 ? FanMode::manual : FanMode::automatic;
        } else if (i < 16 && (mask >> i) & 1u) {
            mode = FanMode::manual;
        }
        fans.push_back({i, fanName(i, n), static_cast<float>(actual), bounds.minRPM, bounds.maxRPM,
                        static_cast<float>(target), mode, mode == FanMode::manual});
    }
    return fans;
}

void SMCService::writeFanMode(std::int64_t fanIndex, FanMode mode) {
    const std::string modeKey = fanKey(fanIndex, "Md");
    if (!isFanIndex(fanIndex)) {
        throw SMCError::keyNotFound(modeKey);
    }
    bool modeKeyExists = false;
    {
        std::lock_guard guard(lock_);
        try {
            readKeyInfoUnlocked(modeKey);
            modeKeyExists = true;
        } catch (const SMCError&) {
        }
    }
    bool modeWritten = false;
    std::optional<SMCError> modeError;
    if (modeKeyExists) {
        const std::uint8_t byte = mode == FanMode::manual ? 1 : 0;
        try {
            writeKeyRaw(modeKey, std::span(&byte, 1), "ui8 ");
            modeWritten = true;
        } catch (const SMCError& error) {
            modeError = error;
        }
    }
    std::optional<SMCError> maskError;
    if (auto maskValue = readNumberOrNothing("FS! ")) {
        auto mask = static_cast<std::uint16_t>(std::trunc(std::clamp(*maskValue, 0.0, 65535.0)));
        const auto bit = static_cast<std::uint16_t>(1u << fanIndex);
        mask = mode == FanMode::manual ? static_cast<std::uint16_t>(mask | bit)
                                       : static_cast<std::uint16_t>(mask & ~bit);
        auto bytes = bigEndianBytes(mask);
        try {
            writeKeyRaw("FS! ", bytes, "ui16");
            return;
        } catch (const SMCError& error) {
            maskError = error;
        }
    }
    if (modeWritten) {
        return;
    }
    if (maskError) {
        throw *maskError;
    }
    if (modeError) {
        throw *modeError;
    }
    throw SMCError::keyNotFound(modeKey);
}

void SMCService::writeFanTargetRPM(std::int64_t fanIndex, float rpm) {
    const std::string targetKey = fanKey(fanIndex, "Tg");
    if (!isFanIndex(fanIndex)) {
        throw SMCError::keyNotFound(targetKey);
    }
    if (!std::isfinite(rpm)) {
        throw SMCError::writeFailed(targetKey);
    }
    const double value = clampTargetRPM(rpm, readNumberOrNothing(fanKey(fanIndex, "Mn")),
                                        readNumberOrNothing(fanKey(fanIndex, "Mx")));
    const SMCKeyInfo info = readKeyInfo(targetKey);
    const auto bytes = encodeTargetRPM(value, info.dataType);
    writeKeyRaw(targetKey, bytes, info.dataType);
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
    {
        std::lock_guard guard(hidLock_);
        if (hidClient_) {
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

    if (auto system = powerScalarUnlocked("PSTR"); system && *system > 0 && *system <= 1000) {
        r.systemWatts = system;
    }
    r.adapterInputWatts = within(powerScalarUnlocked("PDTR"), 0, 1000);
    auto backlight = decodePowerScalarUnlocked("PDBR");
    r.displayWatts =
        within(backlight.acknowledged ? backlight.value : powerScalarUnlocked("PBLR"), 0, 150);
    r.socPackageWatts = within(powerScalarUnlocked("PHPC"), 0, 500);

    std::optional<double> volts;
    auto voltage = readCachedKeyRawUnlocked("B0AV");
    if (voltage.acknowledged && voltage.dataType == "ui16" && voltage.bytes.size() >= 2) {
        volts = (voltage.bytes[0] | (voltage.bytes[1] << 8)) / 1000.0;
    } else if (voltage.acknowledged && voltage.dataType == "flt " && voltage.bytes.size() >= 4) {
        volts = littleEndianFloat(voltage.bytes);
    }
    std::optional<double> amps;
    auto current = readCachedKeyRawUnlocked("B0AC");
    if (current.acknowledged && current.dataType == "si16" && current.bytes.size() >= 2) {
        amps = static_cast<std::int16_t>(current.bytes[0] | (current.bytes[1] << 8)) / 1000.0;
    } else if (current.acknowledged && current.dataType == "flt " && current.bytes.size() >= 4) {
        amps = littleEndianFloat(current.bytes);
    }
    bool voltsValid = volts && std::isfinite(*volts) && *volts >= 1 && *volts <= 30;
    bool ampsValid = amps && std::isfinite(*amps) && std::fabs(*amps) <= 30;
    if (voltsValid && ampsValid) {
        r.batteryVolts = volts;
        r.batteryAmps = amps;
    }

    r.batteryTemperatureCelsius = within(powerScalarUnlocked("TB0T"), -20, 80);

    bool anyPortKey = false;
    std::vector<SMCPortRail> rails;
    for (int port = 1; port <= 4; ++port) {
        auto v = decodePowerScalarUnlocked("D" + std::to_string(port) + "JV");
        auto a = decodePowerScalarUnlocked("D" + std::to_string(port) + "JI");
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
    auto system = powerScalarUnlocked("PSTR");
    return system && *system > 0 && *system <= 1000 ? system : std::nullopt;
}

} // namespace ventoral
