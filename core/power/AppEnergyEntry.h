#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ventoral {

enum class AppEnergyBasis { cpuEnergy, cpuActivity };
std::string_view rawValue(AppEnergyBasis basis);
std::optional<AppEnergyBasis> appEnergyBasisFromRaw(std::string_view raw);

// One row of the high-energy applications list.
struct AppEnergyEntry {
    std::string id;
    std::string name;
    std::string bundlePath;
    std::string valueText;
    double rawScore = 0;
    AppEnergyBasis basis = AppEnergyBasis::cpuActivity;

    friend bool operator==(const AppEnergyEntry&, const AppEnergyEntry&) = default;
};

} // namespace ventoral
