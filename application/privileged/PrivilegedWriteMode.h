#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace ventoral {

// How much the application may do to the fans, and by which route.
enum class PrivilegedWriteMode {
    directRoot,
    xpcDaemon,
    privilegedHelper,
    unauthorized,
    simulationOnly
};

inline constexpr std::array<PrivilegedWriteMode, 5> allPrivilegedWriteModes{
    PrivilegedWriteMode::directRoot, PrivilegedWriteMode::xpcDaemon,
    PrivilegedWriteMode::privilegedHelper, PrivilegedWriteMode::unauthorized,
    PrivilegedWriteMode::simulationOnly};

// The text shown to the user.
std::string_view rawValue(PrivilegedWriteMode mode);
std::optional<PrivilegedWriteMode> privilegedWriteModeFromRaw(std::string_view raw);

} // namespace ventoral
