#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ventoral {

// Fans the thermal backstop handed back stay under automatic control until the CPU package has
// cooled below the release temperature, so that a client that takes them straight back cannot
// fight the backstop. Kept in a file beside the fans' memory, so the daemon and a one-shot
// command run see the same holds.
class ThermalHold {
public:
    static constexpr double releaseCelsius = 88;

    using PackageReader = std::function<std::optional<double>()>;

    // The holds already recorded in `folder` (empty: none, and none are kept on disk).
    explicit ThermalHold(std::string folder);

    void hold(const std::vector<std::int64_t>& fans);
    // Why a manual write to `fan` is refused now, or nothing when it may go ahead. The package
    // is read only while something is held: a reading below the release temperature ends every
    // hold, an unreadable one ends none.
    std::optional<std::string> refusal(std::int64_t fan, const PackageReader& packageCelsius);

private:
    void store();

    std::string path_;
    std::mutex lock_;
    std::set<std::int64_t> held_;
};

} // namespace ventoral
