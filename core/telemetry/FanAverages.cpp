#include "core/telemetry/FanAverages.h"

#include "core/common/Format.h"

#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

template <typename Field> float mean(const std::vector<FanInfo>& fans, Field field) {
    float sum = 0;
    for (const FanInfo& f : fans) {
        sum += field(f);
    }
    return sum / static_cast<float>(fans.size());
}

} // namespace

float averageRPM(const std::vector<FanInfo>& fans) {
    return fans.empty() ? 0 : mean(fans, [](const FanInfo& f) { return f.currentRPM; });
}

float averageMinRPM(const std::vector<FanInfo>& fans) {
    return fans.empty() ? 1200 : mean(fans, [](const FanInfo& f) { return f.minRPM; });
}

float averageMaxRPM(const std::vector<FanInfo>& fans) {
    if (fans.empty()) {
        return 6500;
    }
    return std::max(mean(fans, [](const FanInfo& f) { return f.maxRPM; }),
                    averageMinRPM(fans) + 100);
}

int averageFanPercentage(const std::vector<FanInfo>& fans) {
    if (fans.empty()) {
        return 0;
    }
    double sum = 0;
    for (const FanInfo& f : fans) {
        sum += f.percentage();
    }
    const double value = roundHalfAway(sum / static_cast<double>(fans.size()) * 100);
    if (!std::isfinite(value)) {
        return 0;
    }
    return static_cast<int>(std::clamp(value, 0.0, 100.0));
}

} // namespace ventoral
