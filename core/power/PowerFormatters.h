#pragma once

#include <cstdint>
#include <string>

namespace ventoral {

// Every power text the program shows passes through here. Non-finite input reads "—".
namespace PowerFormatters {
std::string watts(double value);
std::string volts(double value);
std::string amps(double value);
std::string temperature(double celsius);
// Short form for the menu bar; "—W" for a non-finite value.
std::string compactMenuBarWatts(double value);
} // namespace PowerFormatters

namespace PowerDurationFormatter {
// "45m", "2h", "1h 5m"; negative minutes count as 0.
std::string hoursMinutes(std::int64_t minutes);
// "12m", "4h 0m", "3d 4h 12m"; "—" for negative or non-finite seconds.
std::string uptime(double seconds);
} // namespace PowerDurationFormatter

namespace PowerText {
inline constexpr const char* missingValue = "\u2014";
inline constexpr const char* missingWatts = "\u2014W";
inline constexpr const char* minusSign = "\u2212";
inline constexpr const char* separator = " \u00B7 ";
} // namespace PowerText

} // namespace ventoral
