#pragma once

#include "core/common/Clock.h"
#include "core/telemetry/FanInfo.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>

namespace ventoral {

// The last successful write of a fan, and a wish parked while the fan is busy.
struct WrittenFanState {
    float rpm = 0; // for an automatic write, the fan's minimum at the time
    FanMode mode = FanMode::automatic;
    TimePoint writtenAt{};
    friend bool operator==(const WrittenFanState&, const WrittenFanState&) = default;
};
struct PendingFanWrite {
    float rpm = 0;
    FanMode mode = FanMode::automatic;
    float minRPM = 0;
    friend bool operator==(const PendingFanWrite&, const PendingFanWrite&) = default;
};

// One write to start now.
struct FanWriteRequest {
    std::int64_t fanId = 0;
    float rpm = 0;
    FanMode mode = FanMode::automatic;
    float minRPM = 0;
    friend bool operator==(const FanWriteRequest&, const FanWriteRequest&) = default;
};

// The fan writes' bookkeeping: one write outstanding per fan, the newest wish parked while it
// runs, and writes skipped when their effect is already in place or re-asserted when the fan
// has drifted from it. The engine owns one and calls it on its own thread.
class FanWritePipeline {
public:
    static constexpr float dedupeTolerance = 15;
    static constexpr double reassertAge = 3.0;
    static constexpr float driftTolerance = 50;
    static constexpr float pendingTolerance = 5;

    // A fan whose mode or speed changes without us after two of our writes in a row has
    // another controller; it is left to that one until the user chooses a preset again.
    static constexpr int foreignChangesToGiveUp = 2;

    // A wish for `fan`, as read at `readAt`: the write to start now (the fan is then busy), or
    // nothing when the wish was parked behind a busy fan, is already in place, or the fan is
    // contested.
    std::optional<FanWriteRequest> submit(const FanInfo& fan, float desired, FanMode mode,
                                          TimePoint now, TimePoint readAt);
    void recordFailure(std::int64_t fanId);
    void recordSuccess(const FanWriteRequest& write, TimePoint now);
    // The wish parked behind the write that just succeeded, when it still changes something;
    // the fan is then busy again.
    std::optional<FanWriteRequest> takeParked(std::int64_t fanId);

    // Every fan written again on the next evaluation.
    void forgetWrittenState() { lastWrittenState_.clear(); }
    const std::set<std::int64_t>& contestedFans() const { return contested_; }
    // The user chose again: every fan is this program's to write once more.
    void releaseContestedFans();
    void clear();
    bool hasManualWrite() const;

    const std::map<std::int64_t, WrittenFanState>& lastWrittenState() const {
        return lastWrittenState_;
    }
    const std::set<std::int64_t>& inFlightFanWrites() const { return inFlightFanWrites_; }
    const std::map<std::int64_t, PendingFanWrite>& pendingFanWrites() const {
        return pendingFanWrites_;
    }

private:
    // What a fan showed on the first reading after our last write to it.
    struct Settled {
        FanMode mode;
        float targetRPM;
    };
    // Notes a change since the fan settled; true when that makes it contested.
    bool noteForeignChange(const FanInfo& fan, TimePoint readAt);

    std::map<std::int64_t, WrittenFanState> lastWrittenState_;
    std::map<std::int64_t, Settled> settled_;
    std::map<std::int64_t, int> foreignChanges_;
    std::set<std::int64_t> changedSinceWrite_;
    std::set<std::int64_t> contested_;
    std::set<std::int64_t> inFlightFanWrites_;
    std::map<std::int64_t, PendingFanWrite> pendingFanWrites_;
};

} // namespace ventoral
