#pragma once

#include "core/common/Json.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ventoral {

enum class FanMode : std::int64_t {
    automatic = 0, // `auto` is a keyword here
    manual = 1,
};

inline constexpr std::array<FanMode, 2> allFanModes{FanMode::automatic, FanMode::manual};

std::string_view title(FanMode mode);
std::int64_t rawValue(FanMode mode);
std::optional<FanMode> fanModeFromRaw(std::int64_t raw);

struct FanInfo {
    std::int64_t id = 0;
    std::string name;
    float currentRPM = 0;
    float minRPM = 0;
    float maxRPM = 0;
    float targetRPM = 0;
    FanMode mode = FanMode::automatic;
    bool isForced = false;

    // Fractions 0...1 of the fan's range, computed in 32-bit float.
    double percentage() const;
    double targetPercentage() const;

    friend bool operator==(const FanInfo&, const FanInfo&) = default;
};

Json toJson(const FanInfo& fan);
FanInfo fanInfoFromJson(const Json& json);

// A speed clamped to a fan: the lower of it and `maxRPM`, then the higher of that and `minRPM`.
inline float clampSpeed(float speed, float minRPM, float maxRPM) {
    float capped = maxRPM < speed ? maxRPM : speed;
    return capped < minRPM ? minRPM : capped;
}

// Where `speed` lies between `minRPM` and `maxRPM`, clamped; 0 for an empty or non-finite range.
float rangeFraction(float speed, float minRPM, float maxRPM);

} // namespace ventoral
