#include "platform/power/RaplMeter.h"

#include "platform/sysfs/SysfsFiles.h"

#include <ctime>

namespace ventoral {

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::vector<std::string> raplDomains(const std::string& sysfsRoot, const std::string& namePrefix) {
    const std::string classDir = sysfsRoot + "/class/powercap";
    std::vector<std::string> domains;
    for (const auto& entry : sysfs::list(classDir)) {
        // "intel-rapl:0" is a top-level domain; "intel-rapl:0:1" a sub-domain of it.
        if (entry.rfind("intel-rapl:", 0) != 0 || entry.find(':', 11) != std::string::npos) {
            continue;
        }
        auto name = sysfs::readText(classDir + "/" + entry + "/name").value_or("");
        if (name.rfind(namePrefix, 0) == 0) {
            domains.push_back(classDir + "/" + entry);
        }
    }
    return domains;
}

RaplMeter::RaplMeter(std::vector<std::string> domains, MonotonicClock clock)
    : clock_(std::move(clock)) {
    for (auto& dir : domains) {
        auto range = sysfs::readInteger(dir + "/max_energy_range_uj");
        counters_.push_back(
            {std::move(dir), range && *range > 0 ? static_cast<std::uint64_t>(*range) : 0, {}});
    }
}

bool RaplMeter::isReadable() const {
    if (counters_.empty()) {
        return false;
    }
    for (const auto& counter : counters_) {
        auto value = sysfs::readInteger(counter.dir + "/energy_uj");
        if (!value || *value < 0) {
            return false;
        }
    }
    return true;
}

std::optional<double> RaplMeter::watts() {
    const double now = clock_();
    std::uint64_t joulesMicro = 0;
    bool complete = !counters_.empty();
    for (auto& counter : counters_) {
        auto value = sysfs::readInteger(counter.dir + "/energy_uj");
        if (!value || *value < 0) {
            counter.last.reset();
            complete = false;
            continue;
        }
        auto energy = static_cast<std::uint64_t>(*value);
        if (counter.last) {
            if (energy >= *counter.last) {
                joulesMicro += energy - *counter.last;
            } else if (counter.range > *counter.last) {
                joulesMicro += energy + (counter.range - *counter.last); // wrapped
            } else {
                complete = false; // a reset we cannot measure across
            }
        } else {
            complete = false;
        }
        counter.last = energy;
    }
    std::optional<double> result;
    if (complete && lastTime_ && now > *lastTime_) {
        result = static_cast<double>(joulesMicro) / 1e6 / (now - *lastTime_);
    }
    lastTime_ = now;
    return result;
}

} // namespace ventoral
