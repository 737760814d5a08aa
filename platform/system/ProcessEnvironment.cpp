#include "platform/system/ProcessEnvironment.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits.h>
#include <unistd.h>

namespace ventoral {

bool isSetUserIdProcess() {
    return getuid() != geteuid() || getgid() != getegid();
}

std::optional<std::string> testSetting(const char* name) {
    if (isSetUserIdProcess()) {
        return std::nullopt;
    }
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

std::string sysfsRoot() {
    return testSetting(EnvironmentSetting::sysfsRoot).value_or("/sys");
}

std::string procRoot() {
    return testSetting(EnvironmentSetting::procRoot).value_or("/proc");
}

std::string ownExecutablePath() {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

double systemUptimeSeconds(const std::string& procRootPath) {
    std::ifstream file(procRootPath + "/uptime");
    double seconds = 0;
    if (file >> seconds && seconds >= 0) {
        return seconds;
    }
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace ventoral
