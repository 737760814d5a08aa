#pragma once

#include <string>

namespace ventoral {

// printf-style formatting into a string; the C locale's full stop is the decimal mark.
std::string cformat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Rounds half away from zero, as the displayed integers do.
double roundHalfAway(double value);

} // namespace ventoral
