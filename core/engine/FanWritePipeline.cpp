#include "core/engine/FanWritePipeline.h"

#include <algorithm>
#include <cmath>

namespace ventoral {

std::optional<FanWriteRequest> FanWritePipeline::submit(const FanInfo& f, float desired,
                                                        FanMode mode, TimePoint now) {
    if (inFlightFanWrites_.count(f.id)) {
        pendingFanWrites_[f.id] = {desired, mode, f.minRPM};
        return std::nullopt;
    }
    if (auto last = lastWrittenState_.find(f.id);
        last != lastWrittenState_.end() && last->second.mode == mode) {
        const double age = std::chrono::duration<double>(now - last->second.writtenAt).count();
        bool write = false;
        if (mode == FanMode::automatic) {
            write = age > reassertAge && f.mode != FanMode::automatic;
        } else {
            const float change = std::fabs(last->second.rpm - desired);
            write = (age > reassertAge && f.mode != FanMode::manual) ||
                    (age > reassertAge && std::fabs(f.targetRPM - desired) >= driftTolerance) ||
                    !(change < dedupeTolerance); // a difference that is not a number counts
        }
        if (!write) {
            pendingFanWrites_.erase(f.id);
            return std::nullopt;
        }
    }
    inFlightFanWrites_.insert(f.id);
    return FanWriteRequest{f.id, desired, mode, f.minRPM};
}

void FanWritePipeline::recordFailure(std::int64_t fanId) {
    inFlightFanWrites_.erase(fanId);
    pendingFanWrites_.erase(fanId);
}

void FanWritePipeline::recordSuccess(const FanWriteRequest& write, TimePoint now) {
    inFlightFanWrites_.erase(write.fanId);
    lastWrittenState_[write.fanId] = {write.mode == FanMode::manual ? write.rpm : write.minRPM,
                                      write.mode, now};
}

std::optional<FanWriteRequest> FanWritePipeline::takeParked(std::int64_t fanId) {
    auto pending = pendingFanWrites_.find(fanId);
    if (pending == pendingFanWrites_.end()) {
        return std::nullopt;
    }
    const PendingFanWrite wish = pending->second;
    pendingFanWrites_.erase(pending);
    if (auto stored = lastWrittenState_.find(fanId);
        stored != lastWrittenState_.end() && wish.mode == stored->second.mode &&
        (wish.mode == FanMode::automatic ||
         std::fabs(stored->second.rpm - wish.rpm) < pendingTolerance)) {
        return std::nullopt;
    }
    inFlightFanWrites_.insert(fanId);
    return FanWriteRequest{fanId, wish.rpm, wish.mode, wish.minRPM};
}

void FanWritePipeline::clear() {
    inFlightFanWrites_.clear();
    pendingFanWrites_.clear();
    lastWrittenState_.clear();
}

bool FanWritePipeline::hasManualWrite() const {
    return std::any_of(lastWrittenState_.begin(), lastWrittenState_.end(),
                       [](const auto& entry) { return entry.second.mode == FanMode::manual; });
}

} // namespace ventoral
