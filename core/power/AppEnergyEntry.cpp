#include "core/power/AppEnergyEntry.h"

namespace ventoral {

std::string_view rawValue(AppEnergyBasis basis) {
    return basis == AppEnergyBasis::cpuEnergy ? "CPU Energy" : "CPU Activity";
}

std::optional<AppEnergyBasis> appEnergyBasisFromRaw(std::string_view raw) {
    for (auto basis : {AppEnergyBasis::cpuEnergy, AppEnergyBasis::cpuActivity}) {
        if (rawValue(basis) == raw) {
            return basis;
        }
    }
    return std::nullopt;
}

} // namespace ventoral
