#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ventoral {

// Average power of powercap energy counters between two reads.
class RaplMeter {
public:
    using MonotonicClock = std::function<double()>; // seconds

    // `domains` are powercap folders holding energy_uj and max_energy_range_uj.
    RaplMeter(std::vector<std::string> domains, MonotonicClock clock);

    // Watts since the previous read (the first read only sets the baseline). None while a
    // counter cannot be read, which is the normal case for users on current kernels.
    std::optional<double> watts();
    bool isReadable() const;

private:
    struct Counter {
        std::string dir;
        std::uint64_t range = 0;
        std::optional<std::uint64_t> last;
    };
    std::vector<Counter> counters_;
    MonotonicClock clock_;
    std::optional<double> lastTime_;
};

// Top-level domains named `name` ("package-0", "psys"; a prefix match for "package-").
std::vector<std::string> raplDomains(const std::string& sysfsRoot, const std::string& namePrefix);

double monotonicSeconds();

} // namespace ventoral
