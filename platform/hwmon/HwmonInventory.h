#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ventoral {

// A hwmon fan channel, identified by its device rather than by the boot-dependent hwmonN.
struct HwmonFanChannel {
    std::string id; // device path, chip and channel: stable across boots
    std::string devicePath;
    std::string chip;
    int number = 0;
    std::string input;
    std::optional<std::string> min, max, target, output, manual, pwm, pwmEnable, label;
};

struct HwmonTemperatureChannel {
    std::string id;
    std::string chip;
    int number = 0;
    std::optional<std::string> label;
    std::string input;

    // A readable name such as "coretemp Package id 0" or "nvme Composite SSD".
    std::string product() const;
};

struct HwmonInventory {
    std::vector<HwmonFanChannel> fans;
    std::vector<HwmonTemperatureChannel> temperatures;
};

// Every hwmon channel under <sysfsRoot>/class/hwmon, in device-path then channel order.
HwmonInventory scanHwmon(const std::string& sysfsRoot);

} // namespace ventoral
