#include "helper/daemon/FanCalibrations.h"

#include "core/helper/HelperProtocol.h"

namespace ventoral {

FanCalibrations::FanCalibrations(DirectSMCOperator& smc, Progress progress, Finished finished)
    : smc_(smc), progress_(std::move(progress)), finished_(std::move(finished)) {}

FanCalibrations::~FanCalibrations() {
    cancelAndWait();
}

std::optional<std::string> FanCalibrations::start(std::int64_t index) {
    std::unique_lock lock(mutex_);
    if (running_) {
        return HelperProtocol::Reply::calibrationBusyPrefix + std::to_string(*running_);
    }
    if (index < 0 || index >= smc_.readFanCount()) {
        return noSuchFan(index);
    }
    const auto fans = smc_.fanLimits();
    if (fans.empty()) {
        return noCalibrationNeeded(index);
    }
    for (const FanLimitsInfo& fan : fans) {
        if (fan.index == index && !fan.calibratable) {
            return noCalibrationNeeded(fan);
        }
    }
    if (thread_.joinable()) {
        thread_.join(); // the last one has ended
    }
    running_ = index;
    cancelled_ = false;
    thread_ = std::thread([this, index] { run(index); });
    return std::nullopt;
}

void FanCalibrations::run(std::int64_t index) {
    FanCalibrationOutcome outcome =
        smc_.calibrateFan(index, {[this, index](double fraction, const std::string& message) {
                                      progress_(index, fraction, message);
                                  },
                                  [this] { return cancelled_.load(); }});
    finished_(index, outcome.succeeded, outcome.message);
    std::lock_guard lock(mutex_);
    running_.reset();
    ended_.notify_all();
}

std::optional<std::int64_t> FanCalibrations::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void FanCalibrations::cancel() {
    cancelled_ = true;
}

void FanCalibrations::cancelAndWait() {
    cancel();
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [this] { return !running_; });
    if (thread_.joinable()) {
        lock.unlock();
        thread_.join();
    }
}

} // namespace ventoral
