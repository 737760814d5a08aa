#include "platform/hwmon/FanDutyMap.h"

#include <algorithm>
#include <cmath>

namespace ventoral {

FanDutyMap::FanDutyMap(std::vector<DutyPoint> points) {
    std::erase_if(points, [](const DutyPoint& p) {
        return p.duty < 0 || p.duty > fullDuty || !std::isfinite(p.rpm);
    });
    std::stable_sort(points.begin(), points.end(),
                     [](const DutyPoint& a, const DutyPoint& b) { return a.duty < b.duty; });
    float fastest = 0;
    for (const DutyPoint& p : points) {
        if (!points_.empty() && points_.back().duty == p.duty) {
            continue; // the first reading of a duty stands
        }
        fastest = std::max(fastest, std::max(p.rpm, 0.0f));
        points_.push_back({p.duty, fastest});
    }
    // A speed that never rises with the duty says nothing about which duty to use.
    if (points_.size() < 2 || !(points_.back().rpm > points_.front().rpm)) {
        points_.clear();
    }
}

FanDutyMap FanDutyMap::linear(int floorDuty, float slowest, float fastest) {
    return FanDutyMap({{floorDuty, slowest}, {fullDuty, fastest}});
}

int FanDutyMap::dutyFor(float rpm) const {
    if (points_.empty() || !std::isfinite(rpm)) {
        return fullDuty;
    }
    if (rpm <= points_.front().rpm) {
        return points_.front().duty;
    }
    for (std::size_t i = 1; i < points_.size(); ++i) {
        const DutyPoint& a = points_[i - 1];
        const DutyPoint& b = points_[i];
        if (rpm <= b.rpm) {
            double fraction = (static_cast<double>(rpm) - a.rpm) / (b.rpm - a.rpm);
            return static_cast<int>(std::lround(a.duty + fraction * (b.duty - a.duty)));
        }
    }
    return points_.back().duty;
}

float FanDutyMap::speedFor(int duty) const {
    if (points_.empty()) {
        return 0;
    }
    if (duty <= points_.front().duty) {
        return points_.front().rpm;
    }
    for (std::size_t i = 1; i < points_.size(); ++i) {
        const DutyPoint& a = points_[i - 1];
        const DutyPoint& b = points_[i];
        if (duty <= b.duty) {
            double fraction = static_cast<double>(duty - a.duty) / (b.duty - a.duty);
            return static_cast<float>(a.rpm + fraction * (b.rpm - a.rpm));
        }
    }
    return points_.back().rpm;
}

} // namespace ventoral
