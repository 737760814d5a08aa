#include "core/telemetry/DashboardSection.h"

namespace ventoral {

std::string_view rawValue(DashboardSection section) {
    switch (section) {
    case DashboardSection::cooling:
        return "cooling";
    case DashboardSection::batteryPower:
        return "batteryPower";
    case DashboardSection::sensors:
        return "sensors";
    case DashboardSection::menuBar:
        return "menuBar";
    }
    return {};
}

std::string_view title(DashboardSection section) {
    switch (section) {
    case DashboardSection::cooling:
        return "Cooling & Fans";
    case DashboardSection::batteryPower:
        return "Battery & Power";
    case DashboardSection::sensors:
        return "Thermal Matrix";
    case DashboardSection::menuBar:
        return "Menu Bar & Icon";
    }
    return {};
}

std::string_view iconName(DashboardSection section) {
    switch (section) {
    case DashboardSection::cooling:
        return "fanblades.fill";
    case DashboardSection::batteryPower:
        return "bolt.batteryblock.fill";
    case DashboardSection::sensors:
        return "thermometer.medium";
    case DashboardSection::menuBar:
        return "menubar.rectangle";
    }
    return {};
}

std::optional<DashboardSection> dashboardSectionFromRaw(std::string_view raw) {
    for (auto section : allDashboardSections) {
        if (rawValue(section) == raw) {
            return section;
        }
    }
    return std::nullopt;
}

} // namespace ventoral
