#include "core/power/PowerFormatters.h"

#include "core/common/Format.h"
#include "core/common/Numbers.h"

#include <cmath>

namespace ventoral {
namespace PowerFormatters {

std::string watts(double value) {
    if (!std::isfinite(value)) {
        return PowerText::missingValue;
    }
    double w = nonNegative(value);
    return w < 100 ? cformat("%.1f W", w) : cformat("%.0f W", w);
}

std::string volts(double value) {
    if (!std::isfinite(value)) {
        return PowerText::missingValue;
    }
    return cformat("%.2f V", value);
}

std::string amps(double value) {
    if (!std::isfinite(value)) {
        return PowerText::missingValue;
    }
    std::string sign;
    if (value > 0.005) {
        sign = "+";
    } else if (value < -0.005) {
        sign = PowerText::minusSign;
    }
    return sign + cformat("%.2f A", std::fabs(value));
}

std::string temperature(double celsius) {
    if (!std::isfinite(celsius)) {
        return PowerText::missingValue;
    }
    return cformat("%.1f \u00B0C", celsius);
}

std::string compactMenuBarWatts(double value) {
    if (!std::isfinite(value)) {
        return PowerText::missingWatts;
    }
    double w = nonNegative(value);
    return w < 10 ? cformat("%.1fW", w) : cformat("%.0fW", roundHalfAway(w));
}

} // namespace PowerFormatters

namespace PowerDurationFormatter {

std::string hoursMinutes(std::int64_t minutes) {
    std::int64_t total = minutes < 0 ? 0 : minutes;
    if (total < 60) {
        return std::to_string(total) + "m";
    }
    std::int64_t hours = total / 60;
    std::int64_t rest = total % 60;
    if (rest == 0) {
        return std::to_string(hours) + "h";
    }
    return std::to_string(hours) + "h " + std::to_string(rest) + "m";
}

std::string uptime(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) {
        return PowerText::missingValue;
    }
    // Truncation of an absurd value must not overflow the integer.
    constexpr double maxMinutes = 9.0e18;
    double minutesValue = std::trunc(seconds / 60.0);
    auto total = static_cast<std::int64_t>(minutesValue > maxMinutes ? maxMinutes : minutesValue);
    if (total < 1440) {
        if (total < 60) {
            return std::to_string(total) + "m";
        }
        return std::to_string(total / 60) + "h " + std::to_string(total % 60) + "m";
    }
    std::int64_t days = total / 1440;
    std::int64_t hours = (total % 1440) / 60;
    std::int64_t mins = total % 60;
    return std::to_string(days) + "d " + std::to_string(hours) + "h " + std::to_string(mins) + "m";
}

} // namespace PowerDurationFormatter
} // namespace ventoral
