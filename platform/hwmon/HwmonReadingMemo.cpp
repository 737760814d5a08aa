#include "platform/hwmon/HwmonReadingMemo.h"

#include "platform/sysfs/SysfsFiles.h"

namespace ventoral {

void HwmonReadingMemo::beginPass() {
    std::lock_guard guard(mutex_);
    inPass_ = true;
    readings_.clear();
}

void HwmonReadingMemo::endPass() {
    std::lock_guard guard(mutex_);
    inPass_ = false;
    readings_.clear();
}

std::optional<std::int64_t> HwmonReadingMemo::readInteger(const std::string& path) {
    {
        std::lock_guard guard(mutex_);
        if (!inPass_) {
            return sysfs::readInteger(path);
        }
        if (auto it = readings_.find(path); it != readings_.end()) {
            return it->second;
        }
    }
    auto value = sysfs::readInteger(path);
    std::lock_guard guard(mutex_);
    if (inPass_) {
        readings_[path] = value;
    }
    return value;
}

} // namespace ventoral
