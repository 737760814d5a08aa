#pragma once

#include "core/common/Clock.h"
#include "core/smc/SMCError.h"
#include "core/smc/SMCProtocol.h"
#include "core/smc/ThermalChannelSource.h"
#include "core/telemetry/TelemetrySnapshot.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace ventoral {

struct SMCKeyInfo {
    std::uint32_t dataSize = 0;
    std::string dataType;
    friend bool operator==(const SMCKeyInfo&, const SMCKeyInfo&) = default;
};

struct SMCRawValue {
    std::vector<std::uint8_t> bytes;
    std::string dataType;
    friend bool operator==(const SMCRawValue&, const SMCRawValue&) = default;
};

struct SMCCachedRead {
    bool acknowledged = false;
    std::vector<std::uint8_t> bytes;
    std::string dataType;
    friend bool operator==(const SMCCachedRead&, const SMCCachedRead&) = default;
};

struct SMCPowerScalar {
    bool acknowledged = false;
    std::optional<double> value;
    friend bool operator==(const SMCPowerScalar&, const SMCPowerScalar&) = default;
};

struct SMCPortRail {
    std::int64_t channel = 0;
    double watts = 0;
    friend bool operator==(const SMCPortRail&, const SMCPortRail&) = default;
};

// `measured` when any port key exists (the list may be empty), else `unavailable`.
struct SMCPortOutputRails {
    bool isMeasured = false;
    std::vector<SMCPortRail> rails;
    TimePoint readAt{};

    static SMCPortOutputRails unavailable() { return {}; }
    static SMCPortOutputRails measured(std::vector<SMCPortRail> rails, TimePoint readAt) {
        return {true, std::move(rails), readAt};
    }
    friend bool operator==(const SMCPortOutputRails&, const SMCPortOutputRails&) = default;
};

struct SMCPowerReadings {
    std::optional<double> systemWatts;
    std::optional<double> adapterInputWatts;
    std::optional<double> batteryVolts;
    std::optional<double> batteryAmps;
    std::optional<double> displayWatts;
    std::optional<double> socPackageWatts;
    std::optional<double> batteryTemperatureCelsius;
    SMCPortOutputRails portRails;
    TimePoint readAt{};
    friend bool operator==(const SMCPowerReadings&, const SMCPowerReadings&) = default;
};

// The application's one door to the controller. `lock` serialises every exchange and guards the
// key caches; `hidLock` guards the thermal channel path; the two are never held together.
class SMCService {
public:
    SMCService(std::unique_ptr<SmcTransport> transport,
               std::shared_ptr<ThermalChannelSource> thermalChannels = nullptr,
               WallClock clock = systemWallClock());
    SMCService(const SMCService&) = delete;
    SMCService& operator=(const SMCService&) = delete;
    ~SMCService();

    // The process-wide instance over this machine's transport.
    static SMCService& shared();

    bool open();
    void close();

    SMCKeyInfo readKeyInfo(const std::string& key);
    SMCKeyInfo readKeyInfoUnlocked(const std::string& key);
    SMCRawValue readKeyRaw(const std::string& key);
    double readNumber(const std::string& key);
    // A finite value, or nothing when the key is absent, unreadable or not a number.
    std::optional<double> readNumberOrNothing(const std::string& key);
    SMCCachedRead readCachedKeyRawUnlocked(const std::string& key);
    SMCPowerScalar decodePowerScalarUnlocked(const std::string& key);
    void writeKeyRaw(const std::string& key, std::span<const std::uint8_t> bytes,
                     std::optional<std::string> dataType = std::nullopt);

    // Fans and temperatures.
    int readFanCount();
    std::vector<FanInfo> readFans();
    void writeFanMode(std::int64_t fanIndex, FanMode mode);
    void writeFanTargetRPM(std::int64_t fanIndex, float rpm);
    // The fans the controller cannot list, each with why.
    std::vector<std::string> unlistedFans();
    // Each fan's hardware name and limits with where they come from, where the controller
    // knows more than its keys say.
    std::vector<FanLimitsInfo> fanLimits();
    // Measures a fan's limits (blocking for minutes); later reads use what was measured.
    FanCalibrationOutcome calibrateFan(std::int64_t fanIndex, const FanCalibrationControl& control);
    // Every fan back to automatic and the force mask cleared; the last fan's error, if any.
    std::optional<SMCError> resetAllFansToAutomatic();
    std::vector<ThermalSensor> readThermalSensors(bool onlyPrimaryCategories);
    TelemetrySnapshot readSnapshot(bool includeThermalSensors, bool onlyPrimaryThermalCategories);

    // Power rails.
    SMCPowerReadings readPowerAndBatterySensors();
    std::optional<double> readSystemWattsOnly();

    // For callers that make several Unlocked reads under one hold.
    std::mutex& lock() { return lock_; }

private:
    struct CachedHIDChannel {
        std::size_t index;
        std::string id;
        std::string name;
        SensorCategory category;
    };
    struct FanBounds {
        float minRPM;
        float maxRPM;
    };
    std::string hardwareFanName(std::int64_t index);
    // New limits were stored: what was cached of the fans is read again.
    void forgetFanLimitsIfChanged();

    struct BytesReply {
        std::int32_t kernelReturn;
        std::uint8_t result;
        std::vector<std::uint8_t> bytes;
    };

    SmcTransport::Reply callUnlocked(const SMCKeyData_t& input);
    BytesReply readBytesUnlocked(const std::string& key, const SMCKeyInfo& info);
    FanBounds fanBounds(std::int64_t index);
    std::optional<double> powerScalarUnlocked(const char* key);
    void appendHIDReadings(bool onlyPrimaryCategories, std::vector<ThermalSensor>& out);

    std::unique_ptr<SmcTransport> transport_;
    WallClock clock_;
    std::mutex lock_;
    std::map<std::string, SMCKeyInfo> cachedKeyInfo_;
    std::set<std::string> missingKeys_;
    std::map<std::int64_t, FanBounds> fanBoundsCache_;
    std::map<std::int64_t, std::string> fanNameCache_; // empty: the hardware names none

    std::mutex hidLock_;
    std::shared_ptr<ThermalChannelSource> hidClient_;
    std::optional<std::vector<std::shared_ptr<ThermalChannel>>> cachedHIDServices_;
    std::vector<CachedHIDChannel> cachedHIDChannels_;
};

// Category of a thermal channel from its name; the first matching rule wins.
SensorCategory classifyThermalChannelName(const std::string& name);

} // namespace ventoral
