#include "platform/hwmon/FanControlMemory.h"

#include "core/helper/InstallLayout.h"
#include "platform/files/AtomicFile.h"
#include "platform/sysfs/SysfsFiles.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ventoral {

FanControlMemory::FanControlMemory(std::string folder) : folder_(std::move(folder)) {}

std::string FanControlMemory::folderFor(const std::string& sysfsRoot) {
    return sysfsRoot == "/sys" ? InstalledPath::runtimeFolder : sysfsRoot + "/.ventoral-state";
}

std::string FanControlMemory::pathFor(const std::string& channelId) const {
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : channelId) {
        h = (h ^ c) * 1099511628211ULL;
    }
    char name[32];
    std::snprintf(name, sizeof name, "fan-%016llx", static_cast<unsigned long long>(h));
    return folder_ + "/" + name;
}

std::optional<FanControlMemory::Original>
FanControlMemory::recall(const std::string& channelId) const {
    auto text = sysfs::readText(pathFor(channelId));
    if (!text) {
        return std::nullopt;
    }
    std::istringstream in(*text);
    std::string id, enableText, pwmText, targetText;
    if (!std::getline(in, id) || id != channelId || !std::getline(in, enableText)) {
        return std::nullopt; // another channel's file, or a torn one
    }
    std::getline(in, pwmText);
    std::getline(in, targetText); // absent from files written before targets were kept
    auto enable = sysfs::parseInteger(enableText);
    if (!enable) {
        return std::nullopt;
    }
    return Original{*enable, sysfs::parseInteger(pwmText), sysfs::parseInteger(targetText)};
}

bool FanControlMemory::remember(const std::string& channelId, const Original& original) {
    if (recall(channelId)) {
        return true;
    }
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    auto line = [](std::optional<std::int64_t> value) {
        return (value ? std::to_string(*value) : std::string()) + "\n";
    };
    const std::string body = channelId + "\n" + std::to_string(original.enable) + "\n" +
                             line(original.pwm) + line(original.target);
    return writeFileAtomically(pathFor(channelId), body, 0600);
}

void FanControlMemory::forget(const std::string& channelId) {
    ::unlink(pathFor(channelId).c_str());
}

} // namespace ventoral
