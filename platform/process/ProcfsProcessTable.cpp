#include "platform/process/ProcfsProcessTable.h"

#include "platform/sysfs/SysfsFiles.h"

#include <charconv>
#include <climits>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

std::optional<std::int32_t> pidOf(const char* name) {
    std::int32_t pid = 0;
    const char* end = name + std::char_traits<char>::length(name);
    auto [last, error] = std::from_chars(name, end, pid);
    if (error != std::errc() || last != end || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

} // namespace

std::optional<ProcStat> parseProcStat(std::string_view line) {
    auto close = line.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    // After the name: state is field 3; utime 14, stime 15, starttime 22.
    std::string_view rest = line.substr(close + 1);
    std::uint64_t fields[23] = {};
    int field = 2;
    std::size_t at = 0;
    while (field < 22) {
        while (at < rest.size() && rest[at] == ' ') {
            ++at;
        }
        if (at >= rest.size()) {
            return std::nullopt;
        }
        auto end = rest.find(' ', at);
        std::string_view token = rest.substr(at, end == std::string_view::npos ? end : end - at);
        ++field;
        if (field == 14 || field == 15 || field == 22) {
            auto [last, error] =
                std::from_chars(token.data(), token.data() + token.size(), fields[field]);
            if (error != std::errc() || last != token.data() + token.size()) {
                return std::nullopt;
            }
        }
        if (end == std::string_view::npos) {
            if (field < 22) {
                return std::nullopt;
            }
            break;
        }
        at = end;
    }
    return ProcStat{fields[14], fields[15], fields[22]};
}

ProcfsProcessTable::ProcfsProcessTable(std::string procRoot, uid_t user, long ticksPerSecond)
    : root_(std::move(procRoot)), user_(user),
      nanosecondsPerTick_(1e9 / static_cast<double>(ticksPerSecond > 0 ? ticksPerSecond : 100)) {}

std::int64_t ProcfsProcessTable::processListBytes() {
    return static_cast<std::int64_t>(listProcessIds(SIZE_MAX).size()) * 4;
}

std::vector<std::int32_t> ProcfsProcessTable::listProcessIds(std::size_t room) {
    std::vector<std::int32_t> pids;
    DIR* dir = ::opendir(root_.c_str());
    if (!dir) {
        return pids;
    }
    while (pids.size() < room) {
        dirent* entry = ::readdir(dir);
        if (!entry) {
            break;
        }
        auto pid = pidOf(entry->d_name);
        struct stat st {};
        if (pid && ::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && st.st_uid == user_) {
            pids.push_back(*pid);
        }
    }
    ::closedir(dir);
    return pids;
}

std::optional<ProcessUsage> ProcfsProcessTable::usage(std::int32_t pid) {
    // A process can end between the listing and this read: then it is simply absent.
    auto line = sysfs::readText(root_ + "/" + std::to_string(pid) + "/stat");
    auto stat = line ? parseProcStat(*line) : std::nullopt;
    if (!stat) {
        return std::nullopt;
    }
    auto cpu = static_cast<double>(stat->userTicks + stat->systemTicks) * nanosecondsPerTick_;
    return ProcessUsage{static_cast<std::uint64_t>(cpu), stat->startTicks, 0};
}

std::optional<std::string> ProcfsProcessTable::executablePath(std::int32_t pid) {
    char buffer[4096];
    const std::string link = root_ + "/" + std::to_string(pid) + "/exe";
    ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) {
        return std::nullopt;
    }
    std::string path(buffer, static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
        path.resize(path.size() - deleted.size()); // updated in place while it runs
    }
    return path;
}

} // namespace ventoral
