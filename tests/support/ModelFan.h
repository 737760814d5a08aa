#pragma once

#include <algorithm>
#include <cmath>

namespace ventoral::testing {

// A fan whose speed follows its duty as real ones do: it stops below one duty, starts again
// only at a higher one, and takes a while to reach each new speed. Time is the caller's.
struct ModelFan {
    int stopDuty = 60;  // a turning fan stops below this
    int startDuty = 90; // a standing fan starts at or above this
    bool neverStops = false;
    int floorDuty = 50; // a fan that never stops turns as at this duty below it
    float fullRPM = 1800;
    double settleSeconds = 3;

    double now = 0;
    int duty = 128;
    bool turning = true;
    double from = 0, to = 0, changedAt = 0;

    ModelFan() { from = to = steadySpeed(); }

    // Fraction of full speed: a fan turns at about a fifth of it at its lowest duty.
    double curve(int d) const { return fullRPM * (0.2 + 0.8 * d / 255.0); }
    double steadySpeed() const {
        if (neverStops) {
            return curve(std::max(duty, floorDuty));
        }
        return turning ? curve(duty) : 0;
    }
    double speed() const {
        double t = settleSeconds <= 0 ? 1 : std::min(1.0, (now - changedAt) / settleSeconds);
        return std::round(from + (to - from) * t);
    }
    void setDuty(int value) {
        from = speed();
        duty = std::clamp(value, 0, 255);
        if (!neverStops) {
            if (turning && duty < stopDuty) {
                turning = false;
            } else if (!turning && duty >= startDuty) {
                turning = true;
            }
        }
        to = steadySpeed();
        changedAt = now;
    }
};

} // namespace ventoral::testing
