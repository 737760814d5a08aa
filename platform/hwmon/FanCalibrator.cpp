#include "platform/hwmon/FanCalibrator.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace ventoral {
namespace {

struct Abort {
    std::string why;
};

std::string rpmText(double rpm) {
    return std::to_string(std::lround(rpm)) + " RPM";
}

class Measurement {
public:
    Measurement(const FanProbe& probe, const FanCalibrationTiming& timing)
        : probe_(probe), timing_(timing), began_(probe.now()) {}

    FanMeasurement run() {
        FanMeasurement result;
        report(0, "full duty");
        result.maximumRPM = static_cast<float>(settle(FanDutyMap::fullDuty, timing_.settle));
        if (result.maximumRPM < timing_.stoppedRPM) {
            throw Abort{"it does not turn at full duty"};
        }
        result.points.push_back({FanDutyMap::fullDuty, result.maximumRPM});

        // Down until it stops, or until its speed no longer falls with the duty.
        double previous = result.maximumRPM;
        int lowestFollowed = FanDutyMap::fullDuty;
        int flatSteps = 0;
        for (int duty = FanDutyMap::fullDuty - timing_.step;; duty -= timing_.step) {
            duty = std::max(duty, 0);
            double rpm = settle(duty, timing_.settle);
            report(0.8 * (FanDutyMap::fullDuty - duty) / FanDutyMap::fullDuty,
                   "duty " + std::to_string(duty) + ": " + rpmText(rpm));
            if (rpm < timing_.stoppedRPM) {
                result.stopDuty = duty;
                break;
            }
            result.points.push_back({duty, static_cast<float>(rpm)});
            if (rpm < previous - tolerance(previous)) {
                lowestFollowed = duty;
                flatSteps = 0;
            } else if (rpm < 0.9 * result.maximumRPM && ++flatSteps >= 2) {
                break; // at its floor: this fan does not stop
            }
            previous = rpm;
            if (duty == 0) {
                break;
            }
        }
        if (!result.stopDuty && lowestFollowed == FanDutyMap::fullDuty) {
            throw Abort{"its speed does not follow its duty"};
        }

        if (result.stopDuty) {
            findStart(result);
        } else {
            result.startDuty = lowestFollowed;
            auto at = std::find_if(result.points.begin(), result.points.end(),
                                   [&](const DutyPoint& p) { return p.duty == lowestFollowed; });
            result.minimumRPM = at->rpm;
        }
        std::erase_if(result.points, [&](const DutyPoint& p) { return p.duty < result.startDuty; });
        std::sort(result.points.begin(), result.points.end(),
                  [](const DutyPoint& a, const DutyPoint& b) { return a.duty < b.duty; });
        if (!(result.maximumRPM > result.minimumRPM)) {
            throw Abort{"its speed does not follow its duty"};
        }
        report(1, "done");
        return result;
    }

private:
    // Each failed try leaves it at standstill, so every try starts from there.
    void findStart(FanMeasurement& result) {
        const int from = *result.stopDuty;
        for (int duty = from + timing_.step; duty < FanDutyMap::fullDuty + timing_.step;
             duty += timing_.step) {
            duty = std::min(duty, static_cast<int>(FanDutyMap::fullDuty));
            double rpm = settle(duty, timing_.startSettle);
            report(0.8 + 0.2 * (duty - from) / std::max(1, FanDutyMap::fullDuty - from),
                   "start at duty " + std::to_string(duty) + ": " + rpmText(rpm));
            if (rpm >= timing_.stoppedRPM) {
                result.startDuty = duty;
                result.minimumRPM = static_cast<float>(rpm);
                std::erase_if(result.points, [&](const DutyPoint& p) { return p.duty <= duty; });
                result.points.push_back({duty, result.minimumRPM});
                return;
            }
        }
        throw Abort{"it did not start again"};
    }

    double tolerance(double rpm) const { return std::max(20.0, 0.02 * rpm); }

    // The speed once two readings agree, or whatever it is when the step's time is up.
    double settle(int duty, double settleTime) {
        if (!probe_.writeDuty(duty)) {
            throw Abort{"duty " + std::to_string(duty) + " could not be written"};
        }
        const double start = probe_.now();
        std::optional<double> previous;
        while (true) {
            probe_.wait(timing_.poll);
            double rpm = checkedReading();
            double elapsed = probe_.now() - start;
            if (previous && elapsed >= settleTime && std::fabs(rpm - *previous) <= tolerance(rpm)) {
                return rpm;
            }
            if (elapsed >= timing_.stepLimit) {
                return rpm;
            }
            previous = rpm;
        }
    }

    double checkedReading() {
        if (probe_.cancelled && probe_.cancelled()) {
            throw Abort{"it was stopped before it finished"};
        }
        if (auto celsius = probe_.cpuCelsius ? probe_.cpuCelsius() : std::nullopt;
            celsius && *celsius > timing_.hottestCelsius) {
            std::ostringstream why;
            why << "the CPU reached " << std::lround(*celsius) << " \u00B0C";
            throw Abort{why.str()};
        }
        auto rpm = probe_.readSpeed();
        if (!rpm || !std::isfinite(*rpm) || *rpm < 0) {
            throw Abort{"its speed reading disappeared"};
        }
        if (probe_.now() - began_ > timing_.overallLimit) {
            throw Abort{"it took longer than " +
                        std::to_string(std::lround(timing_.overallLimit / 60)) + " minutes"};
        }
        return *rpm;
    }

    void report(double fraction, const std::string& message) {
        if (probe_.progress) {
            probe_.progress(std::clamp(fraction, 0.0, 1.0), message);
        }
    }

    const FanProbe& probe_;
    const FanCalibrationTiming& timing_;
    const double began_;
};

} // namespace

FanMeasurementRun measureFanLimits(const FanProbe& probe, const FanCalibrationTiming& timing) {
    try {
        return {Measurement(probe, timing).run(), {}};
    } catch (const Abort& abort) {
        return {std::nullopt, abort.why};
    }
}

} // namespace ventoral
