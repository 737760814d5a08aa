#pragma once

#include <chrono>
#include <functional>

namespace ventoral {

using TimePoint = std::chrono::system_clock::time_point;

// Wall-clock source, injected wherever a record is stamped so tests can fix the time.
using WallClock = std::function<TimePoint()>;

inline WallClock systemWallClock() {
    return [] { return std::chrono::system_clock::now(); };
}

} // namespace ventoral
