// The battery's condition and capacity from the power report program, kept for minutes because
// the program is slow.
#include "core/power/PowerBatteryService.h"

namespace ventoral {
namespace {

namespace P = BatteryTelemetryParser;

constexpr double profilerSyncTimeout = 2.5;
constexpr double profilerBackgroundTimeout = 3.0;
constexpr auto failedProfilerLifetime = std::chrono::seconds(60);
constexpr auto goodProfilerLifetime = std::chrono::seconds(600);

} // namespace

PowerBatteryService::ProfilerCacheEntry
PowerBatteryService::runSystemProfilerBounded(const BoundedProgramRunner& runner,
                                              const WallClock& now, double timeout) {
    const TimePoint t0 = now();
    const ProfilerCacheEntry failed{std::nullopt, std::nullopt, std::nullopt,
                                    t0 + failedProfilerLifetime};
    if (!runner) {
        return failed;
    }
    BoundedRunResult run = runner({"SPPowerDataType", "-json", "-detailLevel", "mini"}, timeout);
    if (!run.started || run.timedOut || run.exitStatus != 0 || run.output.empty()) {
        return failed;
    }
    auto parsed = P::parseSystemProfiler(run.output);
    const bool nothing = !parsed.condition && !parsed.maximumCapacityPercent;
    return {parsed.condition, parsed.maximumCapacityPercent, parsed.cycleCount,
            t0 + (nothing ? failedProfilerLifetime : goodProfilerLifetime)};
}

void PowerBatteryService::refreshSystemProfilerSynchronously() {
    {
        std::lock_guard guard(lock_);
        if (profilerCache_ && platform_.now() < profilerCache_->expiresAt) {
            return;
        }
    }
    auto entry =
        runSystemProfilerBounded(platform_.runProfiler, platform_.now, profilerSyncTimeout);
    std::lock_guard guard(lock_);
    profilerCache_ = entry;
}

void PowerBatteryService::triggerSystemProfilerRefreshIfNeeded(std::function<void()> onComplete) {
    {
        std::lock_guard guard(lock_);
        if (isProfilerRefreshing_ ||
            (profilerCache_ && platform_.now() < profilerCache_->expiresAt)) {
            return;
        }
        isProfilerRefreshing_ = true;
    }
    std::weak_ptr<PowerBatteryService> weak = weak_from_this();
    backgroundQueue_.async([weak, onComplete = std::move(onComplete)] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        auto entry = runSystemProfilerBounded(self->platform_.runProfiler, self->platform_.now,
                                              profilerBackgroundTimeout);
        {
            std::lock_guard guard(self->lock_);
            self->profilerCache_ = entry;
            self->isProfilerRefreshing_ = false;
        }
        if (onComplete && self->platform_.postToMain) {
            self->platform_.postToMain(onComplete);
        }
    });
}

} // namespace ventoral
