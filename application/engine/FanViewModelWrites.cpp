// The fan-write pipeline on the engine's side: the authorization gate, dispatching to the
// writer, and what a finished write means for the engine's state.
#include "application/engine/FanViewModel.h"

namespace ventoral {

void FanViewModel::writeFan(const FanInfo& f, float desired, FanMode mode, bool userInitiated) {
    if (calibration_.value.running && calibration_.value.index == f.id) {
        return; // the measurement has the fan until it ends
    }
    if (!isAuthorized_.value && sudoFallbackConfirmedUnavailable_) {
        if (userInitiated && mode == FanMode::manual) {
            publish(lastErrorMessage_, std::string(EngineText::authorizationRequired));
        }
        return;
    }
    const bool wasContested = pipeline_.contestedFans().count(f.id) > 0;
    const TimePoint readAt = latestSnapshot_ ? latestSnapshot_->timestamp : now();
    if (auto write = pipeline_.submit(f, desired, mode, now(), readAt)) {
        dispatchHardwareWrite(*write);
    } else if (!wasContested && pipeline_.contestedFans().count(f.id)) {
        contestMessage_ = EngineText::anotherController(f.name);
        publish(lastErrorMessage_, *contestMessage_);
        contestedNotes_.push_back(*contestMessage_);
        if (collaborators_.contestedFansChanged) {
            collaborators_.contestedFansChanged(contestedNotes_);
        }
    }
}

void FanViewModel::dispatchHardwareWrite(const FanWriteRequest& write) {
    // The writer may finish on any thread; the engine takes it up on its own.
    auto done = onMainThread(
        [write](FanViewModel& self, WriteResult result) { self.completeWrite(write, result); });
    if (write.mode == FanMode::manual) {
        collaborators_.writer.setFanRPM(write.fanId, write.rpm, done);
    } else {
        collaborators_.writer.setFanMode(write.fanId, FanMode::automatic, done);
    }
}

void FanViewModel::completeWrite(const FanWriteRequest& write, const WriteResult& result) {
    if (result) {
        pipeline_.recordFailure(write.fanId);
        handleWriteError(*result);
        return;
    }
    sudoFallbackConfirmedUnavailable_ = false;
    if (!isAuthorized_.value) {
        publish(privilegeStatus_, collaborators_.writer.checkPrivilegeStatus());
        publish(isAuthorized_, true);
    }
    pipeline_.recordSuccess(write, now());
    // A fan left to another program stays said while it is left to it.
    publish(lastErrorMessage_, contestMessage_);
    if (isSimulatedMode_.value) {
        return;
    }
    if (auto next = pipeline_.takeParked(write.fanId)) {
        dispatchHardwareWrite(*next);
    }
}

void FanViewModel::releaseContestedFans() {
    pipeline_.releaseContestedFans();
    contestMessage_.reset();
    if (!contestedNotes_.empty()) {
        contestedNotes_.clear();
        if (collaborators_.contestedFansChanged) {
            collaborators_.contestedFansChanged(contestedNotes_);
        }
    }
}

void FanViewModel::handleWriteError(const SMCError& error) {
    const std::string description = error.what();
    const bool authorization = error.kind() == SMCError::Kind::privilegedRequired ||
                               (error.kind() == SMCError::Kind::platform &&
                                (description.find("password") != std::string::npos ||
                                 description.find("privilege") != std::string::npos));
    if (authorization) {
        publish(isAuthorized_, false);
        publish(privilegeStatus_, PrivilegedWriteMode::unauthorized);
        sudoFallbackConfirmedUnavailable_ = true;
        publish(lastErrorMessage_, std::string(EngineText::authorizationRequired));
        return;
    }
    publish(lastErrorMessage_, description);
}

} // namespace ventoral
