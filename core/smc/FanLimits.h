#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ventoral {

// Where a fan's slowest and fastest speeds come from.
enum class FanLimitsSource {
    driver,   // the driver's own files mean exactly that
    measured, // this machine's calibration
    assumed,  // neither: the usual fallbacks, with a duty floor that keeps the fan turning
};

// What a controller knows of one fan's hardware: its own name, its limits and where they come
// from, and whether a calibration could measure them.
struct FanLimitsInfo {
    std::int64_t index = 0;
    std::string name; // empty where the hardware gives none
    std::optional<float> minimum;
    std::optional<float> maximum;
    FanLimitsSource source = FanLimitsSource::assumed;
    bool calibratable = false;
    friend bool operator==(const FanLimitsInfo&, const FanLimitsInfo&) = default;
};

// "measured", "given by the driver", "assumed".
const char* limitsSourceText(FanLimitsSource source);

// Why a fan that cannot be calibrated needs none: "GPU Fan (amdgpu) needs no calibration: its
// driver gives its limits".
std::string noCalibrationNeeded(const FanLimitsInfo& fan);
std::string noSuchFan(std::int64_t index);
// The same for a controller that reports every fan's limits itself.
std::string noCalibrationNeeded(std::int64_t index);

// How a calibration run reports and how it is stopped.
struct FanCalibrationControl {
    std::function<void(double fraction, const std::string& message)> progress;
    std::function<bool()> cancelled;
};

// A calibration as the views show it: which fan, how far, and how it ended.
struct FanCalibrationStatus {
    std::int64_t index = -1; // none yet
    bool running = false;
    double fraction = 0;
    std::string message;
    bool succeeded = false; // once it is no longer running
    friend bool operator==(const FanCalibrationStatus&, const FanCalibrationStatus&) = default;
};

struct FanCalibrationOutcome {
    bool succeeded = false;
    std::string message;
    friend bool operator==(const FanCalibrationOutcome&, const FanCalibrationOutcome&) = default;
};

} // namespace ventoral
