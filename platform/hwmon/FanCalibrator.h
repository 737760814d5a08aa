#pragma once

#include "platform/hwmon/FanDutyMap.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ventoral {

// What a measurement touches, injected so that a model fan and a fake clock can stand in.
struct FanProbe {
    std::function<std::optional<double>()> readSpeed; // none once the reading is gone
    std::function<bool(int duty)> writeDuty;
    std::function<std::optional<double>()> cpuCelsius;
    std::function<double()> now; // seconds, monotonic
    std::function<void(double seconds)> wait;
    std::function<bool()> cancelled;
    std::function<void(double fraction, const std::string& message)> progress;
};

struct FanCalibrationTiming {
    int step = 8;               // duty units between steps: about 3 %
    double poll = 1;            // seconds between readings
    double settle = 2;          // before two agreeing readings count as settled
    double startSettle = 5;     // a fan starting from standstill takes longer
    double stepLimit = 15;      // a step takes what it has by then
    double overallLimit = 600;  // the whole run
    double hottestCelsius = 85; // above this the fan goes back at once
    double stoppedRPM = 50;     // slower than this is standing still
};

struct FanMeasurement {
    std::optional<int> stopDuty; // the duty at which it stopped; none if it never did
    int startDuty = 0;
    float minimumRPM = 0;
    float maximumRPM = 0;
    std::vector<DutyPoint> points; // settled speeds from the start duty to full duty
    friend bool operator==(const FanMeasurement&, const FanMeasurement&) = default;
};

struct FanMeasurementRun {
    std::optional<FanMeasurement> measurement;
    std::string failure; // why there is none
};

// Steps a fan already under manual control from full duty down until its speed stops
// following, then up from standstill until it starts. The caller puts the fan back.
FanMeasurementRun measureFanLimits(const FanProbe& probe, const FanCalibrationTiming& timing = {});

} // namespace ventoral
