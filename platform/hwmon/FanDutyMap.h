#pragma once

#include <vector>

namespace ventoral {

struct DutyPoint {
    int duty = 0; // 0...255
    float rpm = 0;
    friend bool operator==(const DutyPoint&, const DutyPoint&) = default;
};

// How a duty-steered fan's speed follows its duty: straight lines between known points, the
// speed never falling as the duty rises. Below the first point no duty is ever asked for.
class FanDutyMap {
public:
    static constexpr int fullDuty = 255;

    // Points in any order; duties outside 0...255 and non-finite speeds are dropped. Without
    // two usable points, or a speed that rises, the map is full duty for every speed.
    explicit FanDutyMap(std::vector<DutyPoint> points);
    // A straight line from `floorDuty` at `slowest` to full duty at `fastest`.
    static FanDutyMap linear(int floorDuty, float slowest, float fastest);

    // The lowest duty expected to give `rpm`, never below the first point's; full duty for a
    // speed that is not a number.
    int dutyFor(float rpm) const;
    // The speed expected at `duty`, read back from a pwm file.
    float speedFor(int duty) const;
    const std::vector<DutyPoint>& points() const { return points_; }

    friend bool operator==(const FanDutyMap&, const FanDutyMap&) = default;

private:
    std::vector<DutyPoint> points_;
};

} // namespace ventoral
