#include "helper/daemon/ThermalHold.h"

#include "core/helper/HelperProtocol.h"
#include "platform/files/AtomicFile.h"
#include "platform/sysfs/SysfsFiles.h"

#include <cmath>
#include <sstream>
#include <unistd.h>

namespace ventoral {

ThermalHold::ThermalHold(std::string folder)
    : path_(folder.empty() ? std::string() : folder + "/thermal-hold") {
    if (path_.empty()) {
        return;
    }
    std::istringstream lines(sysfs::readText(path_).value_or(""));
    for (std::string line; std::getline(lines, line);) {
        if (auto fan = sysfs::parseInteger(line)) {
            held_.insert(*fan);
        }
    }
}

void ThermalHold::store() {
    if (path_.empty()) {
        return;
    }
    if (held_.empty()) {
        ::unlink(path_.c_str());
        return;
    }
    std::string text;
    for (std::int64_t fan : held_) {
        text += std::to_string(fan) + "\n";
    }
    writeFileAtomically(path_, text, 0600);
}

void ThermalHold::hold(const std::vector<std::int64_t>& fans) {
    std::lock_guard guard(lock_);
    held_.insert(fans.begin(), fans.end());
    store();
}

std::optional<std::string> ThermalHold::refusal(std::int64_t fan,
                                                const PackageReader& packageCelsius) {
    std::lock_guard guard(lock_);
    if (held_.empty()) {
        return std::nullopt;
    }
    if (auto celsius = packageCelsius();
        celsius && std::isfinite(*celsius) && *celsius < releaseCelsius) {
        held_.clear();
        store();
        return std::nullopt;
    }
    if (!held_.contains(fan)) {
        return std::nullopt;
    }
    return HelperProtocol::Reply::thermalHoldPrefix + std::to_string(fan) +
           HelperProtocol::Reply::thermalHoldSuffix;
}

} // namespace ventoral
