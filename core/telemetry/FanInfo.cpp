#include "core/telemetry/FanInfo.h"

#include <algorithm>
#include <cmath>

namespace ventoral {

std::string_view title(FanMode mode) {
    switch (mode) {
    case FanMode::automatic:
        return "System Auto";
    case FanMode::manual:
        return "Manual Forced";
    }
    return {};
}

std::int64_t rawValue(FanMode mode) {
    return static_cast<std::int64_t>(mode);
}

std::optional<FanMode> fanModeFromRaw(std::int64_t raw) {
    for (auto mode : allFanModes) {
        if (rawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}

float rangeFraction(float speed, float minRPM, float maxRPM) {
    if (!(minRPM < maxRPM) || !std::isfinite(minRPM) || !std::isfinite(maxRPM) ||
        !std::isfinite(speed)) {
        return 0.0f;
    }
    float clamped = clampSpeed(speed, minRPM, maxRPM);
    return (clamped - minRPM) / (maxRPM - minRPM);
}

double FanInfo::percentage() const {
    return rangeFraction(currentRPM, minRPM, maxRPM);
}

double FanInfo::targetPercentage() const {
    return rangeFraction(targetRPM, minRPM, maxRPM);
}

Json toJson(const FanInfo& fan) {
    Json json = Json::object();
    json["id"] = fan.id;
    json["name"] = fan.name;
    json["currentRPM"] = json::encodeFloat(fan.currentRPM, "FanInfo.currentRPM");
    json["minRPM"] = json::encodeFloat(fan.minRPM, "FanInfo.minRPM");
    json["maxRPM"] = json::encodeFloat(fan.maxRPM, "FanInfo.maxRPM");
    json["targetRPM"] = json::encodeFloat(fan.targetRPM, "FanInfo.targetRPM");
    json["mode"] = rawValue(fan.mode);
    json["isForced"] = fan.isForced;
    return json;
}

FanInfo fanInfoFromJson(const Json& json) {
    constexpr std::string_view ctx = "FanInfo";
    auto member = [&](std::string_view key) -> const Json& {
        return json::requireMember(json, key, ctx);
    };
    FanInfo fan;
    fan.id = json::decodeInt64(member("id"), "FanInfo.id");
    fan.name = json::decodeString(member("name"), "FanInfo.name");
    fan.currentRPM = json::decodeFloat(member("currentRPM"), "FanInfo.currentRPM");
    fan.minRPM = json::decodeFloat(member("minRPM"), "FanInfo.minRPM");
    fan.maxRPM = json::decodeFloat(member("maxRPM"), "FanInfo.maxRPM");
    fan.targetRPM = json::decodeFloat(member("targetRPM"), "FanInfo.targetRPM");
    auto raw = json::decodeInt64(member("mode"), "FanInfo.mode");
    auto mode = fanModeFromRaw(raw);
    if (!mode) {
        throw DecodingError("FanInfo.mode: unknown fan mode " + std::to_string(raw));
    }
    fan.mode = *mode;
    fan.isForced = json::decodeBool(member("isForced"), "FanInfo.isForced");
    return fan;
}

} // namespace ventoral
