// Taking fans over and handing them back exactly as they were, and writing their speeds.
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/sysfs/SysfsFiles.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

namespace ventoral {
namespace {

constexpr std::int64_t fullDuty = 255;
constexpr std::int64_t manualEnable = 1;

std::int32_t returnFor(int error) {
    switch (error) {
    case 0:
        return SMCReturn::success;
    case EACCES:
    case EROFS:
        return SMCReturn::notPrivileged;
    case EPERM: // thinkpad_acpi without fan_control=1
        return SMCReturn::notPermitted;
    default:
        return HwmonSmcTransport::writeErrorReturn;
    }
}

std::string describe(const HwmonFanChannel& fan) {
    return fan.chip + " fan " + std::to_string(fan.number);
}

} // namespace

std::optional<std::string> hwmonTargetFile(const HwmonFanChannel& fan) {
    // A fan switched through pwmN_enable is steered by its duty; a target file is then the
    // automatic controller's business (amdgpu refuses it).
    if (fan.pwm && fan.pwmEnable) {
        return std::nullopt;
    }
    return fan.target ? fan.target : fan.output;
}

std::optional<std::string> hwmonModeFile(const HwmonFanChannel& fan) {
    return fan.pwmEnable ? fan.pwmEnable : fan.manual;
}

std::optional<std::int64_t> automaticEnableValue(const std::string& chip) {
    if (chip == "pwmfan") {
        return std::nullopt; // 0 would switch the fan off
    }
    if (chip.rfind("nct6", 0) == 0 || chip == "w83627ehf") {
        return 5; // SmartFan IV, the value these boards boot with
    }
    return 2;
}

void HwmonSmcTransport::takeOver(const HwmonFanChannel& fan) {
    if (memory_.recall(fan.id)) {
        return; // the first state stays the one to go back to
    }
    FanControlMemory::Original original;
    if (auto modeFile = hwmonModeFile(fan)) {
        auto current = sysfs::readInteger(*modeFile);
        if (!current) {
            return; // nothing to go back to is known
        }
        original.enable = *current;
    }
    if (fan.pwm) {
        original.pwm = sysfs::readInteger(*fan.pwm);
    }
    if (auto targetFile = hwmonTargetFile(fan)) {
        original.target = sysfs::readInteger(*targetFile);
    }
    memory_.remember(fan.id, original);
}

HwmonSmcTransport::WriteOutcome HwmonSmcTransport::writeMode(const HwmonFanChannel& fan,
                                                             bool manual) {
    const auto modeFile = hwmonModeFile(fan);
    if (manual) {
        // A fan without a mode file is steered by its target or duty alone.
        if (!modeFile) {
            takeOver(fan);
            return {};
        }
        // Already ours and still manual: nothing to write. A mode the firmware or another
        // program changed (after resume, say) is written again.
        if (memory_.recall(fan.id) && sysfs::readInteger(*modeFile) == manualEnable) {
            return {};
        }
        takeOver(fan);
        return {returnFor(write_(*modeFile, "1")), 0};
    }
    if (auto original = memory_.recall(fan.id)) {
        WriteOutcome outcome = restore(fan, *original);
        if (outcome.kernelReturn == SMCReturn::success) {
            memory_.forget(fan.id);
        }
        return outcome;
    }
    // Nothing remembered: a fan already under automatic control (or one this program has no
    // way to switch) is left exactly as it is.
    auto current = modeFile ? sysfs::readInteger(*modeFile) : std::nullopt;
    if (!modeFile || (current && *current != manualEnable)) {
        return {};
    }
    if (!fan.pwmEnable) {
        return {returnFor(write_(*fan.manual, "0")), 0};
    }
    return enableAutomatic(fan, automaticEnableValue(fan.chip));
}

HwmonSmcTransport::WriteOutcome HwmonSmcTransport::restore(const HwmonFanChannel& fan,
                                                           const FanControlMemory::Original& was) {
    const auto targetFile = hwmonTargetFile(fan);
    if (was.target && targetFile) {
        if (int error = write_(*targetFile, std::to_string(*was.target)); error != 0) {
            return {returnFor(error), 0};
        }
    }
    if (!fan.pwmEnable) {
        if (was.pwm && fan.pwm) {
            if (int error = write_(*fan.pwm, std::to_string(*was.pwm)); error != 0) {
                return {returnFor(error), 0};
            }
        }
        return {fan.manual ? returnFor(write_(*fan.manual, std::to_string(was.enable)))
                           : SMCReturn::success,
                0};
    }
    // Duty first, then the mode that reads it.
    if (was.pwm && fan.pwm) {
        if (int error = write_(*fan.pwm, std::to_string(*was.pwm)); error != 0) {
            return {returnFor(error), 0};
        }
    }
    if (was.enable == manualEnable) {
        return {returnFor(write_(*fan.pwmEnable, "1")), 0};
    }
    return enableAutomatic(fan, was.enable);
}

HwmonSmcTransport::WriteOutcome
HwmonSmcTransport::enableAutomatic(const HwmonFanChannel& fan, std::optional<std::int64_t> wanted) {
    const std::string& enable = *fan.pwmEnable;
    if (wanted) {
        if (int error = write_(enable, std::to_string(*wanted)); error != 0 && error != EINVAL) {
            return {returnFor(error), 0};
        }
    }
    if (wanted && sysfs::readInteger(enable) == wanted) {
        return {};
    }
    // A driver that does not take an automatic mode is held at full duty, the safe state.
    if (!fan.pwm) {
        return {writeErrorReturn, 0};
    }
    write_(enable, "1");
    if (int error = write_(*fan.pwm, std::to_string(fullDuty)); error != 0) {
        return {returnFor(error), 0};
    }
    notices_.push_back(describe(fan) +
                       ": its driver did not accept automatic control, so it runs at full speed");
    return {};
}

HwmonSmcTransport::WriteOutcome HwmonSmcTransport::writeTarget(const HwmonFanChannel& fan,
                                                               const HwmonFanSteering& steering,
                                                               float rpm) {
    if (!std::isfinite(rpm) || rpm < 0) {
        return {0, badArgumentResult};
    }
    if (auto targetFile = hwmonTargetFile(fan)) {
        long value = std::lround(std::min(rpm, 100000.0f));
        return {returnFor(write_(*targetFile, std::to_string(value))), 0};
    }
    int duty = steering.duty ? steering.duty->dutyFor(rpm) : static_cast<int>(fullDuty);
    return {returnFor(write_(*fan.pwm, std::to_string(duty))), 0};
}

std::optional<std::set<std::int64_t>> HwmonSmcTransport::fansTakenOver() {
    std::lock_guard guard(mutex_);
    if (rescanNeeded_) {
        buildUnlocked();
    }
    std::set<std::int64_t> taken;
    for (std::size_t i = 0; i < fans_.size(); ++i) {
        if (memory_.recall(fans_[i].id)) {
            taken.insert(static_cast<std::int64_t>(i));
        }
    }
    return taken;
}

std::vector<std::string> HwmonSmcTransport::takeNotices() {
    std::lock_guard guard(mutex_);
    return std::exchange(notices_, {});
}

} // namespace ventoral
