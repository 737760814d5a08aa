#pragma once

#include <string>
#include <string_view>

namespace ventoral {

// printf-style formatting into a string; the C locale's full stop is the decimal mark.
std::string cformat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `text` without leading and trailing blanks and line ends.
std::string_view trimWhitespace(std::string_view text);

// Rounds half away from zero, as the displayed integers do.
double roundHalfAway(double value);

} // namespace ventoral
