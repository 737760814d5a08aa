#pragma once

#include <cmath>
#include <optional>

namespace ventoral {

// Readings that are not numbers count as nothing measured.
inline double finiteOrZero(double value) {
    return std::isfinite(value) ? value : 0.0;
}
inline double finiteOrZero(std::optional<double> value) {
    return value ? finiteOrZero(*value) : 0.0;
}

// Negative (and negative zero) readings and ones that are not numbers count as 0.
inline double nonNegative(double value) {
    return value > 0 ? finiteOrZero(value) : 0.0;
}

} // namespace ventoral
