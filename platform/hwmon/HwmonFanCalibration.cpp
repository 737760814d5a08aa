// Measuring a duty-steered fan's real limits, and what the controller says of every fan's.
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/sysfs/SysfsFiles.h"

#include <cmath>

namespace ventoral {

std::vector<FanLimitsInfo> HwmonSmcTransport::fanLimits() {
    std::lock_guard guard(mutex_);
    if (rescanNeeded_) {
        buildUnlocked();
    }
    std::vector<FanLimitsInfo> limits;
    for (const auto& steering : steering_) {
        limits.push_back(steering.info);
    }
    return limits;
}

bool HwmonSmcTransport::fanLimitsChanged() {
    std::lock_guard guard(mutex_);
    const double now = clock_();
    if (now >= lastStampCheck_ && now - lastStampCheck_ < stampCheckInterval) {
        return false;
    }
    lastStampCheck_ = now;
    auto stamp = calibrations_.stamp();
    if (stamp == calibrationStamp_) {
        return false;
    }
    calibrationStamp_ = stamp; // told once
    rescanNeeded_ = true;
    return true;
}

void HwmonSmcTransport::setCalibrationTiming(const FanCalibrationTiming& timing) {
    std::lock_guard guard(mutex_);
    calibrationTiming_ = timing;
}

std::optional<FanControlMemory::Original>
HwmonSmcTransport::currentState(const HwmonFanChannel& fan) const {
    FanControlMemory::Original state;
    if (auto modeFile = hwmonModeFile(fan)) {
        auto enable = sysfs::readInteger(*modeFile);
        if (!enable) {
            return std::nullopt;
        }
        state.enable = *enable;
    }
    state.pwm = sysfs::readInteger(*fan.pwm);
    if (!state.pwm) {
        return std::nullopt;
    }
    return state;
}

FanCalibrationOutcome HwmonSmcTransport::calibrateFan(std::int64_t index,
                                                      const FanCalibrationControl& control) {
    HwmonFanChannel fan;
    HwmonFanSteering steering;
    std::string cpuInput;
    {
        std::lock_guard guard(mutex_);
        if (rescanNeeded_) {
            buildUnlocked();
        }
        if (index < 0 || static_cast<std::size_t>(index) >= fans_.size()) {
            return {false, noSuchFan(index)};
        }
        fan = fans_[static_cast<std::size_t>(index)];
        steering = steering_[static_cast<std::size_t>(index)];
        cpuInput = cpuPackageInput_;
    }
    const std::string name =
        steering.info.name.empty() ? "Fan " + std::to_string(index) : steering.info.name;
    if (!steering.info.calibratable) {
        return {false, noCalibrationNeeded(steering.info)};
    }
    if (cpuInput.empty()) {
        // Minutes at low duties need a CPU temperature to stop on.
        return {false, name + ": not calibrated: no CPU temperature can be watched meanwhile"};
    }
    return measureAndStore(fan, name, cpuInput, control);
}

FanCalibrationOutcome HwmonSmcTransport::measureAndStore(const HwmonFanChannel& fan,
                                                         const std::string& name,
                                                         const std::string& cpuInput,
                                                         const FanCalibrationControl& control) {
    auto before = currentState(fan);
    if (!before) {
        return {false, name + ": its present setting cannot be read, so it is left alone"};
    }
    FanCalibrationTiming timing;
    std::optional<FanControlMemory::Original> handBackState;
    bool heldBefore = false;
    {
        std::lock_guard guard(mutex_);
        timing = calibrationTiming_;
        handBackState = memory_.recall(fan.id);
        heldBefore = handBackState.has_value();
        takeOver(fan); // a crash mid-way leaves the hand-back something to restore
        if (fan.pwmEnable) {
            if (int error = write_(*fan.pwmEnable, "1"); error != 0) {
                restore(fan, *before);
                if (!heldBefore) {
                    memory_.forget(fan.id);
                }
                return {false, name + ": it cannot be taken to manual control"};
            }
        }
    }

    FanProbe probe{
        [&fan]() -> std::optional<double> {
            auto rpm = sysfs::readInteger(fan.input);
            return rpm ? std::optional<double>(static_cast<double>(*rpm)) : std::nullopt;
        },
        [this, &fan](int duty) { return write_(*fan.pwm, std::to_string(duty)) == 0; },
        [&cpuInput]() -> std::optional<double> {
            auto milli = cpuInput.empty() ? std::nullopt : sysfs::readInteger(cpuInput);
            return milli ? std::optional<double>(static_cast<double>(*milli) / 1000) : std::nullopt;
        },
        clock_,
        sleep_,
        control.cancelled,
        control.progress,
    };
    FanMeasurementRun run;
    try {
        run = measureFanLimits(probe, timing);
    } catch (...) {
        run.failure = "it failed unexpectedly"; // the fan goes back all the same
    }

    WriteOutcome restored;
    {
        std::lock_guard guard(mutex_);
        // A hand-back while it was measured (a reset, sleep, the backstop) gave the fan back for
        // good: it goes to that state, not to the manual one it was held in before.
        const bool handedBackMeanwhile = heldBefore && !memory_.recall(fan.id);
        restored = restore(fan, handedBackMeanwhile ? *handBackState : *before);
        if (!heldBefore && restored.kernelReturn == SMCReturn::success) {
            memory_.forget(fan.id);
        }
    }
    const std::string putBack =
        restored.kernelReturn == SMCReturn::success ? "" : " It could not be put back as it was.";
    if (!run.measurement) {
        return {false, name + ": calibration stopped: " + run.failure + "." + putBack};
    }
    const FanMeasurement& m = *run.measurement;
    FanCalibration calibration{fan.devicePath, fan.chip,     fan.number,   m.stopDuty,
                               m.startDuty,    m.minimumRPM, m.maximumRPM, m.points};
    std::string error;
    if (!calibrations_.save(calibration, &error)) {
        return {false, name + ": measured, but not stored: " + error + "." + putBack};
    }
    {
        std::lock_guard guard(mutex_);
        rescanNeeded_ = true;
        lastStampCheck_ = -std::numeric_limits<double>::infinity(); // looked at next time
    }
    std::string summary = name + ": " + std::to_string(std::lround(m.minimumRPM)) + " to " +
                          std::to_string(std::lround(m.maximumRPM)) + " RPM, from duty " +
                          std::to_string(m.startDuty);
    summary +=
        m.stopDuty ? "; it stops at duty " + std::to_string(*m.stopDuty) : "; it never stops";
    return {restored.kernelReturn == SMCReturn::success, summary + "." + putBack};
}

} // namespace ventoral
