#pragma once

#include "helper/operator/DirectSMCOperator.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace ventoral {

// The daemon's calibrations: one fan at a time, on a thread of its own, each reported as it
// goes and when it ends.
class FanCalibrations {
public:
    using Progress =
        std::function<void(std::int64_t index, double fraction, const std::string& message)>;
    using Finished =
        std::function<void(std::int64_t index, bool succeeded, const std::string& message)>;

    FanCalibrations(DirectSMCOperator& smc, Progress progress, Finished finished);
    FanCalibrations(const FanCalibrations&) = delete;
    FanCalibrations& operator=(const FanCalibrations&) = delete;
    // Stops a running calibration, which puts its fan back, and waits for it.
    ~FanCalibrations();

    // Starts measuring `index`; none, or why it cannot start.
    std::optional<std::string> start(std::int64_t index);
    // The fan being measured, if any.
    std::optional<std::int64_t> running() const;
    // Asks a running calibration to stop and put its fan back; does not wait.
    void cancel();
    // Stops a running calibration and waits until its fan is back.
    void cancelAndWait();

private:
    void run(std::int64_t index);

    DirectSMCOperator& smc_;
    Progress progress_;
    Finished finished_;
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::optional<std::int64_t> running_;
    std::atomic<bool> cancelled_{false};
    std::thread thread_;
};

} // namespace ventoral
