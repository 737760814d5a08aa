#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ventoral {

// Settings that point the program at fixture machines. A set-user-id process ignores them.
namespace EnvironmentSetting {
inline constexpr const char* sysfsRoot = "VENTORAL_SYSFS_ROOT";
inline constexpr const char* procRoot = "VENTORAL_PROC_ROOT";
inline constexpr const char* rootPrefix = "VENTORAL_ROOT_PREFIX";
inline constexpr const char* smcProfile = "VENTORAL_SMC_PROFILE";
} // namespace EnvironmentSetting

// True when real and effective user or group ids differ.
bool isSetUserIdProcess();

// The named setting when it is set, not empty, and the process is not set-user-id.
std::optional<std::string> testSetting(const char* name);

// "/sys" and "/proc", or the folders the settings name.
std::string sysfsRoot();
std::string procRoot();

// This program's own file, from /proc/self/exe (never argv[0]).
std::string ownExecutablePath();

// Seconds since the system started, from <proc>/uptime; the boot clock if that cannot be read.
double systemUptimeSeconds(const std::string& procRootPath);

} // namespace ventoral
