#include "core/engine/FanWritePipeline.h"

#include <algorithm>
#include <cmath>

namespace ventoral {

bool FanWritePipeline::noteForeignChange(const FanInfo& f, TimePoint readAt) {
    auto last = lastWrittenState_.find(f.id);
    if (last == lastWrittenState_.end() || readAt <= last->second.writtenAt) {
        return false; // nothing written yet, or a reading from before the write took
    }
    auto settled = settled_.find(f.id);
    if (settled == settled_.end()) {
        // The first reading after the write is what the hardware made of it (drivers round
        // duties to their steps), the state others must leave alone.
        settled_[f.id] = {f.mode, f.targetRPM};
        return false;
    }
    // Under automatic control the fan's own controller moves its speed; only its mode counts.
    const bool changed = f.mode != settled->second.mode ||
                         (last->second.mode == FanMode::manual &&
                          std::fabs(f.targetRPM - settled->second.targetRPM) >= driftTolerance);
    if (!changed) {
        return false;
    }
    settled_.erase(settled);
    changedSinceWrite_.insert(f.id);
    if (++foreignChanges_[f.id] < foreignChangesToGiveUp) {
        return false;
    }
    contested_.insert(f.id);
    pendingFanWrites_.erase(f.id);
    return true;
}

std::optional<FanWriteRequest> FanWritePipeline::submit(const FanInfo& f, float desired,
                                                        FanMode mode, TimePoint now,
                                                        TimePoint readAt) {
    if (contested_.count(f.id) || noteForeignChange(f, readAt)) {
        return std::nullopt;
    }
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
    settled_.erase(write.fanId);
    // Changes count only while each of our writes is undone before the next.
    if (!changedSinceWrite_.erase(write.fanId)) {
        foreignChanges_.erase(write.fanId);
    }
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
    releaseContestedFans();
}

void FanWritePipeline::releaseContestedFans() {
    settled_.clear();
    foreignChanges_.clear();
    changedSinceWrite_.clear();
    contested_.clear();
}

bool FanWritePipeline::hasManualWrite() const {
    return std::any_of(lastWrittenState_.begin(), lastWrittenState_.end(),
                       [](const auto& entry) { return entry.second.mode == FanMode::manual; });
}

} // namespace ventoral
