#pragma once

#include "core/telemetry/FanInfo.h"

#include <vector>

namespace ventoral {

// Readouts over every fan; with no fans, 0 RPM within the default range of 1200 to 6500 RPM.
float averageRPM(const std::vector<FanInfo>& fans);
float averageMinRPM(const std::vector<FanInfo>& fans);
// At least 100 RPM above the average minimum.
float averageMaxRPM(const std::vector<FanInfo>& fans);
// The mean of the fans' percentages, rounded, within 0 to 100.
int averageFanPercentage(const std::vector<FanInfo>& fans);

} // namespace ventoral
