#pragma once

#include "core/power/PowerPlatform.h"

#include <string>
#include <sys/types.h>

namespace ventoral {

// The current user's processes from <proc>: ids of the folders the user owns, CPU time and
// start time from each one's stat, the program from its exe link. Linux has no per-process
// energy counter, so energy always reads 0.
class ProcfsProcessTable final : public ProcessTable {
public:
    ProcfsProcessTable(std::string procRoot, uid_t user, long ticksPerSecond);

    std::int64_t processListBytes() override;
    std::vector<std::int32_t> listProcessIds(std::size_t room) override;
    std::optional<ProcessUsage> usage(std::int32_t pid) override;
    std::optional<std::string> executablePath(std::int32_t pid) override;

private:
    std::string root_;
    uid_t user_;
    double nanosecondsPerTick_;
};

struct ProcStat {
    std::uint64_t userTicks = 0;
    std::uint64_t systemTicks = 0;
    std::uint64_t startTicks = 0;
    friend bool operator==(const ProcStat&, const ProcStat&) = default;
};
// The fields of a /proc/<pid>/stat line that matter here. The command name may hold blanks
// and parentheses, so fields are counted from its last closing parenthesis.
std::optional<ProcStat> parseProcStat(std::string_view line);

} // namespace ventoral
