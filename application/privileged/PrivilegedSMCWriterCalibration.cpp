// Calibrating a fan by the writes' route: directly as root, through the helper daemon (which
// reports its progress by signals), or by running the helper.
#include "application/privileged/PrivilegedSMCWriter.h"
#include "core/common/Format.h"
#include "core/helper/HelperProtocol.h"
#include "helper/dbus/SMCHelperClient.h"
#include "platform/process/ProcessRunner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <sdbus-c++/sdbus-c++.h>
#include <thread>

namespace ventoral {
namespace {

namespace Text = PrivilegedWriterText;

// How often a wait for the daemon's end looks whether the daemon is still there.
constexpr auto daemonCheckInterval = std::chrono::seconds(5);
// After the application asked everything back, how long the daemon's end is still awaited.
constexpr auto cancelledGrace = std::chrono::seconds(3);
// Longer than the daemon lets any measurement run.
constexpr auto calibrationLimit = std::chrono::minutes(12);

std::string lastLine(const std::string& output) {
    std::string text(trimWhitespace(output));
    auto cut = text.rfind('\n');
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

} // namespace

struct PrivilegedSMCWriter::CalibrationJob {
    CalibrationProgress progress;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::optional<FanCalibrationOutcome> heard; // the daemon's end, once told

    void report(double fraction, const std::string& message) {
        if (progress) {
            progress(fraction, message);
        }
    }
};

void PrivilegedSMCWriter::calibrateFan(std::int64_t index, CalibrationProgress progress,
                                       CalibrationCompletion completion) {
    // Told on the main thread, as the writes' completions are.
    auto toMain = [post = platform_.postToMain](std::function<void()> job) {
        post ? post(std::move(job)) : job();
    };
    if (progress) {
        progress = [toMain, progress](double fraction, const std::string& message) {
            toMain([progress, fraction, message] { progress(fraction, message); });
        };
    }
    if (completion) {
        completion = [toMain, completion](const FanCalibrationOutcome& outcome) {
            toMain([completion, outcome] { completion(outcome); });
        };
    }
    auto job = std::make_shared<CalibrationJob>();
    job->progress = std::move(progress);
    {
        std::lock_guard guard(calibrationLock_);
        if (calibration_) {
            std::lock_guard jobGuard(calibration_->mutex);
            if (!calibration_->done) {
                if (completion) {
                    completion({false, Text::calibrationBusy});
                }
                return;
            }
        }
        calibration_ = job;
    }
    // The job keeps the writer for as long as the fan is being measured.
    std::thread([self = shared_from_this(), job, index, completion = std::move(completion)] {
        job->report(0, Text::calibrationStarting);
        FanCalibrationOutcome outcome;
        if (self->isRunningAsRoot()) {
            outcome = self->calibrateAsRoot(index, *job);
        } else if (auto answered = self->shouldAttemptXPC()
                                       ? self->calibrateThroughDaemon(index, *job)
                                       : std::nullopt) {
            outcome = *answered;
        } else {
            outcome = self->calibrateWithHelperProcess(index, *job);
        }
        {
            std::lock_guard guard(job->mutex);
            job->done = true;
        }
        job->changed.notify_all();
        if (completion) {
            completion(outcome);
        }
    }).detach();
}

void PrivilegedSMCWriter::cancelCalibration() {
    std::lock_guard guard(calibrationLock_);
    if (calibration_) {
        calibration_->cancelled = true;
        calibration_->changed.notify_all();
    }
}

void PrivilegedSMCWriter::waitForCalibrationEnd(double timeoutSeconds) {
    std::shared_ptr<CalibrationJob> job;
    {
        std::lock_guard guard(calibrationLock_);
        job = calibration_;
    }
    if (job) {
        std::unique_lock lock(job->mutex);
        job->changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                              [&] { return job->done; });
    }
}

FanCalibrationOutcome PrivilegedSMCWriter::calibrateAsRoot(std::int64_t index,
                                                           CalibrationJob& job) {
    return platform_.smc().calibrateFan(
        index,
        {[&job](double fraction, const std::string& message) { job.report(fraction, message); },
         [&job] { return job.cancelled.load(); }});
}

std::optional<FanCalibrationOutcome>
PrivilegedSMCWriter::calibrateThroughDaemon(std::int64_t index, CalibrationJob& job) {
    auto connection = platform_.systemBus ? platform_.systemBus() : nullptr;
    if (!connection) {
        return std::nullopt;
    }
    try {
        SMCHelperClient client(
            *connection,
            [&job, index](std::int64_t fan, double fraction, const std::string& message) {
                if (fan == index) {
                    job.report(fraction, message);
                }
            },
            [&job, index](std::int64_t fan, bool success, const std::string& message) {
                if (fan == index) {
                    std::lock_guard guard(job.mutex);
                    job.heard = FanCalibrationOutcome{success, message};
                    job.changed.notify_all();
                }
            });
        // The daemon measuring is this owner of the name; a restarted daemon knows nothing of it.
        auto busDaemon =
            sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        auto owner = [&busDaemon] {
            std::string name;
            try {
                busDaemon->callMethod("GetNameOwner")
                    .onInterface("org.freedesktop.DBus")
                    .withArguments(std::string(HelperProtocol::busName))
                    .storeResultsTo(name);
            } catch (const sdbus::Error&) {
            }
            return name;
        };
        connection->enterEventLoopAsync();
        const std::string measurer = owner();
        const auto deadline = std::chrono::steady_clock::now() + calibrationLimit;
        auto [started, message] = client.Calibrate(index);
        std::optional<FanCalibrationOutcome> outcome;
        if (!started) {
            outcome = FanCalibrationOutcome{false, message};
        }
        std::unique_lock lock(job.mutex);
        auto cancelledAt = std::chrono::steady_clock::time_point::max();
        while (!outcome && !job.heard) {
            job.changed.wait_for(lock,
                                 job.cancelled ? std::chrono::seconds(1) : daemonCheckInterval);
            if (job.heard) {
                break;
            }
            if (job.cancelled && cancelledAt == std::chrono::steady_clock::time_point::max()) {
                cancelledAt = std::chrono::steady_clock::now();
            }
            lock.unlock();
            const bool there = !measurer.empty() && owner() == measurer;
            lock.lock();
            if (!there || std::chrono::steady_clock::now() > deadline) {
                outcome = FanCalibrationOutcome{false, Text::daemonWentAway};
            } else if (std::chrono::steady_clock::now() - cancelledAt > cancelledGrace) {
                outcome = FanCalibrationOutcome{false, Text::calibrationStopped};
            }
        }
        if (!outcome) {
            outcome = job.heard;
        }
        lock.unlock();
        connection->leaveEventLoop();
        return outcome;
    } catch (const sdbus::Error&) {
        return std::nullopt; // not reached: the helper itself is tried
    }
}

FanCalibrationOutcome PrivilegedSMCWriter::calibrateWithHelperProcess(std::int64_t index,
                                                                      CalibrationJob& job) {
    auto helper = locator_.helperToRun();
    if (!helper) {
        return {false, Text::helperNotFound};
    }
    std::string program = *helper;
    std::vector<std::string> arguments{HelperProtocol::Command::calibrate, std::to_string(index)};
    if (!isHelperSetuid(*helper)) {
        if (!isExecutableFile(layout().sudo())) {
            return {false, SMCError::privilegedRequired().what()};
        }
        program = layout().sudo();
        arguments.insert(arguments.begin(), {"-n", *helper});
    }
    job.report(0, Text::calibrationByHelper);
    auto run = runProgramCapturingOutput(program, arguments);
    if (!run.started) {
        return {false, run.launchError};
    }
    if (!isValidUTF8(run.output) ||
        run.output.find(HelperProcessText::passwordRequired) != std::string::npos) {
        return {false, SMCError::privilegedRequired().what()};
    }
    std::string message = lastLine(run.output);
    if (message.empty()) {
        message = HelperProcessText::helperExitCode + std::to_string(run.exitStatus);
    }
    return {run.exitStatus == 0, message};
}

} // namespace ventoral
