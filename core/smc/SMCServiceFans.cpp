#include "core/smc/SMCFanControl.h"
#include "core/smc/SMCKeys.h"
#include "core/smc/SMCService.h"

#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

using SMCKey::FanField;

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

// No fan turns backwards or faster than this; such a reading is a glitch, and unreadable.
constexpr double fastestPlausibleRPM = 25000;

std::optional<double> plausibleSpeed(std::optional<double> rpm) {
    return rpm && *rpm >= 0 && *rpm <= fastestPlausibleRPM ? rpm : std::nullopt;
}

// The service's cached, raising reads and writes as the shared fan rules expect them.
class ServiceKeyAccess final : public SMCKeyAccess {
public:
    explicit ServiceKeyAccess(SMCService& service) : service_(service) {}

    SMCKeyLookup lookUpKey(const std::string& key) override {
        try {
            return {service_.readKeyInfo(key).dataType, std::nullopt};
        } catch (const SMCError& error) {
            return {std::nullopt, error};
        }
    }
    std::optional<double> readFiniteNumber(const std::string& key) override {
        return service_.readNumberOrNothing(key);
    }
    std::optional<SMCError> writeKey(const std::string& key, std::span<const std::uint8_t> bytes,
                                     const std::string& dataType) override {
        try {
            service_.writeKeyRaw(key, bytes, dataType);
            return std::nullopt;
        } catch (const SMCError& error) {
            return error;
        }
    }

private:
    SMCService& service_;
};

} // namespace

int SMCService::readFanCount() {
    return fanCountFrom(readNumberOrNothing(SMCKey::fanCount));
}

SMCService::FanBounds SMCService::fanBounds(std::int64_t index) {
    {
        std::lock_guard guard(lock_);
        if (auto it = fanBoundsCache_.find(index); it != fanBoundsCache_.end()) {
            return it->second;
        }
    }
    double min = readNumberOrNothing(SMCKey::fan(index, FanField::minimum)).value_or(1200);
    double max = readNumberOrNothing(SMCKey::fan(index, FanField::maximum)).value_or(6500);
    min = std::max(min, 0.0);
    max = std::max(max, min + 100);
    FanBounds bounds{static_cast<float>(min), static_cast<float>(max)};
    std::lock_guard guard(lock_);
    fanBoundsCache_[index] = bounds;
    return bounds;
}

std::string SMCService::hardwareFanName(std::int64_t index) {
    {
        std::lock_guard guard(lock_);
        if (auto it = fanNameCache_.find(index); it != fanNameCache_.end()) {
            return it->second;
        }
    }
    std::string name;
    const std::string key = SMCKey::fan(index, FanField::identification);
    try {
        if (auto raw = readKeyRaw(key); raw.dataType == SMCType::text) {
            name.assign(raw.bytes.begin(), std::find(raw.bytes.begin(), raw.bytes.end(), 0));
        }
    } catch (const SMCError&) {
        // No name of its own: the usual one.
    }
    std::lock_guard guard(lock_);
    fanNameCache_[index] = name;
    return name;
}

void SMCService::forgetFanLimitsIfChanged() {
    std::lock_guard guard(lock_);
    if (transport_->fanLimitsChanged()) {
        fanBoundsCache_.clear();
        fanNameCache_.clear();
        missingKeys_.clear();
        cachedKeyInfo_.clear();
    }
}

std::vector<FanLimitsInfo> SMCService::fanLimits() {
    forgetFanLimitsIfChanged();
    std::lock_guard guard(lock_);
    return transport_->fanLimits();
}

FanCalibrationOutcome SMCService::calibrateFan(std::int64_t fanIndex,
                                               const FanCalibrationControl& control) {
    // Not under `lock`: the controller serialises its own exchanges, and readings go on.
    FanCalibrationOutcome outcome = transport_->calibrateFan(fanIndex, control);
    forgetFanLimitsIfChanged();
    return outcome;
}

std::vector<std::string> SMCService::unlistedFans() {
    std::lock_guard guard(lock_);
    return transport_->unlistedFans();
}

std::vector<FanInfo> SMCService::readFans() {
    forgetFanLimitsIfChanged();
    const std::int64_t n = readFanCount();
    if (n < 1) {
        return {};
    }
    auto mask = static_cast<std::uint32_t>(
        std::trunc(std::clamp(readNumberOrNothing(SMCKey::forceMask).value_or(0), 0.0, 65535.0)));

    std::vector<FanInfo> fans;
    for (std::int64_t i = 0; i < n; ++i) {
        double actual =
            plausibleSpeed(readNumberOrNothing(SMCKey::fan(i, FanField::actual))).value_or(0);
        FanBounds bounds = fanBounds(i);
        auto targetValue = plausibleSpeed(readNumberOrNothing(SMCKey::fan(i, FanField::target)));
        double target = targetValue ? std::max(*targetValue, 0.0) : bounds.minRPM;
        FanMode mode = FanMode::automatic;
        if (auto md = readNumberOrNothing(SMCKey::fan(i, FanField::mode))) {
            mode = std::trunc(*md) != 0 ? FanMode::manual : FanMode::automatic;
        } else if (i < 16 && (mask >> i) & 1u) {
            mode = FanMode::manual;
        }
        std::string name = hardwareFanName(i);
        fans.push_back({i, name.empty() ? fanName(i, n) : std::move(name),
                        static_cast<float>(actual), bounds.minRPM, bounds.maxRPM,
                        static_cast<float>(target), mode, mode == FanMode::manual});
    }
    return fans;
}

void SMCService::writeFanMode(std::int64_t fanIndex, FanMode mode) {
    if (mode == FanMode::automatic) {
        std::optional<std::set<std::int64_t>> taken;
        {
            std::lock_guard guard(lock_);
            taken = transport_->fansTakenOver();
        }
        // Automatic control is this program's to give back only for fans it took.
        if (isLeftToItsUser(taken, fanIndex, readFanCount())) {
            return;
        }
    }
    ServiceKeyAccess access(*this);
    if (auto error = writeFanModeKeys(access, fanIndex, mode == FanMode::manual)) {
        throw *error;
    }
}

void SMCService::writeFanTargetRPM(std::int64_t fanIndex, float rpm) {
    ServiceKeyAccess access(*this);
    if (auto error = writeFanTargetKey(access, fanIndex, rpm)) {
        throw *error;
    }
}

std::optional<SMCError> SMCService::resetAllFansToAutomatic() {
    ServiceKeyAccess access(*this);
    // The mask is a courtesy; only the fans' own outcome counts.
    return resetFanKeys(access, readFanCount()).lastFanError;
}

} // namespace ventoral
