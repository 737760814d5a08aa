#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace ventoral {

enum class DashboardSection { cooling, batteryPower, sensors, menuBar };

inline constexpr std::array<DashboardSection, 4> allDashboardSections{
    DashboardSection::cooling, DashboardSection::batteryPower, DashboardSection::sensors,
    DashboardSection::menuBar};

// The raw value is also the section's `id`.
std::string_view rawValue(DashboardSection section);
std::string_view title(DashboardSection section);
std::string_view iconName(DashboardSection section);
std::optional<DashboardSection> dashboardSectionFromRaw(std::string_view raw);

} // namespace ventoral
