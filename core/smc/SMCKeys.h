#pragma once

#include <cstdint>
#include <string>

// Every controller key and data type the programs name, in one place: the readers, the writers,
// the virtual controller over sysfs and the helper all agree on them through this header.
namespace ventoral::SMCKey {

inline constexpr const char* fanCount = "FNum";
inline constexpr const char* forceMask = "FS! ";

// Temperatures.
inline constexpr const char* cpuPerformanceCores = "Tp09";
inline constexpr const char* cpuEfficiencyCores = "Tp0T";
inline constexpr const char* cpuCoreCluster = "Tc0c";
inline constexpr const char* cpuPackage = "TC0P";
inline constexpr const char* gpu = "TG0P";
inline constexpr const char* memory = "Tm0P";
inline constexpr const char* batteryTemperature = "TB0T";

// Power rails.
inline constexpr const char* systemPower = "PSTR";
inline constexpr const char* adapterPower = "PDTR";
inline constexpr const char* displayPower = "PDBR";
inline constexpr const char* backlightPower = "PBLR";
inline constexpr const char* cpuPackagePower = "PHPC";
inline constexpr const char* batteryVoltage = "B0AV";
inline constexpr const char* batteryCurrent = "B0AC";

// USB-C port rails: "D<port>JV" and "D<port>JI".
inline std::string portVoltage(int port) {
    return "D" + std::to_string(port) + "JV";
}
inline std::string portCurrent(int port) {
    return "D" + std::to_string(port) + "JI";
}

// Per-fan keys: "F<index>Ac" and so on.
// `identification` holds the hardware's own name for the fan, where it has one.
enum class FanField { actual, minimum, maximum, target, mode, identification };
inline std::string fan(std::int64_t index, FanField field) {
    const char* suffix = "";
    switch (field) {
    case FanField::actual:
        suffix = "Ac";
        break;
    case FanField::minimum:
        suffix = "Mn";
        break;
    case FanField::maximum:
        suffix = "Mx";
        break;
    case FanField::target:
        suffix = "Tg";
        break;
    case FanField::mode:
        suffix = "Md";
        break;
    case FanField::identification:
        suffix = "ID";
        break;
    }
    return "F" + std::to_string(index) + suffix;
}

} // namespace ventoral::SMCKey

namespace ventoral::SMCType {
inline constexpr const char* ui8 = "ui8 ";
inline constexpr const char* ui16 = "ui16";
inline constexpr const char* si16 = "si16";
inline constexpr const char* flt = "flt ";
inline constexpr const char* text = "ch8*";
} // namespace ventoral::SMCType
