#include "application/privileged/HelperUnitStatus.h"

#include "core/common/Format.h"
#include "core/helper/InstallLayout.h"
#include "core/smc/SMCError.h"
#include "platform/process/ProcessRunner.h"

namespace ventoral {
namespace {

void runUnitCommand(const std::string& systemctl, const char* verb) {
    auto run = runProgramCapturingOutput(systemctl, {verb, "--now", InstalledPath::unitName});
    if (!run.started || run.exitStatus != 0) {
        throw SMCError::writeFailed(run.started ? std::string(trimWhitespace(run.output))
                                                : run.launchError);
    }
}

} // namespace

DaemonStatus readHelperUnitStatus(const std::string& systemctl) {
    auto run = runProgramCapturingOutput(systemctl, {"is-enabled", InstalledPath::unitName});
    if (!run.started) {
        return DaemonStatus::notFound;
    }
    const std::string state =
        std::string(trimWhitespace(run.output.substr(0, run.output.find('\n'))));
    if (state == "enabled" || state == "enabled-runtime" || state == "alias") {
        return DaemonStatus::enabled;
    }
    if (state == "not-found" || run.output.find("No such file") != std::string::npos ||
        run.output.find("not found") != std::string::npos) {
        return DaemonStatus::notFound;
    }
    return DaemonStatus::notRegistered;
}

void enableHelperUnit(const std::string& systemctl) {
    runUnitCommand(systemctl, "enable");
}

void disableHelperUnit(const std::string& systemctl) {
    runUnitCommand(systemctl, "disable");
}

HelperUnitStatus::HelperUnitStatus(Reader reader, std::chrono::steady_clock::duration maxAge,
                                   SteadyClock clock)
    : reader_(std::move(reader)), maxAge_(maxAge), clock_(std::move(clock)) {}

DaemonStatus HelperUnitStatus::current() {
    {
        std::lock_guard guard(lock_);
        if (known_) {
            if (clock_() - readAt_ >= maxAge_ && !refreshing_) {
                refreshing_ = true;
                refresher_.async([this, generation = generation_] {
                    const auto readAt = clock_();
                    const DaemonStatus status = reader_();
                    std::lock_guard stored(lock_);
                    refreshing_ = false;
                    // A slow background read must not replace an answer read after it began.
                    if (generation == generation_) {
                        known_ = status;
                        readAt_ = readAt;
                    }
                });
            }
            return *known_;
        }
    }
    return refreshNow();
}

DaemonStatus HelperUnitStatus::refreshNow() {
    const auto readAt = clock_();
    const DaemonStatus status = reader_();
    std::lock_guard guard(lock_);
    known_ = status;
    readAt_ = readAt;
    ++generation_;
    return status;
}

} // namespace ventoral
