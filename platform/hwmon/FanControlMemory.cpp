#include "platform/hwmon/FanControlMemory.h"

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
    return sysfsRoot == "/sys" ? "/run/ventoral" : sysfsRoot + "/.ventoral-state";
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
    std::string id, enableText, pwmText;
    if (!std::getline(in, id) || id != channelId || !std::getline(in, enableText)) {
        return std::nullopt; // another channel's file, or a torn one
    }
    std::getline(in, pwmText);
    auto enable = sysfs::parseInteger(enableText);
    if (!enable) {
        return std::nullopt;
    }
    return Original{*enable, sysfs::parseInteger(pwmText)};
}

bool FanControlMemory::remember(const std::string& channelId, const Original& original) {
    if (recall(channelId)) {
        return true;
    }
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    std::string body = channelId + "\n" + std::to_string(original.enable) + "\n" +
                       (original.pwm ? std::to_string(*original.pwm) : "") + "\n";
    std::string target = pathFor(channelId);
    std::string temp = target + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size()) &&
              ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void FanControlMemory::forget(const std::string& channelId) {
    ::unlink(pathFor(channelId).c_str());
}

} // namespace ventoral
