#include "platform/hwmon/HwmonInventory.h"

#include "platform/sysfs/SysfsFiles.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <tuple>

namespace ventoral {
namespace {

struct Chip {
    std::string dir;
    std::string devicePath;
    std::string name;
};

// "fan12_input" → 12 for prefix "fan" and suffix "_input".
std::optional<int> channelNumber(const std::string& file, const std::string& prefix,
                                 const std::string& suffix) {
    if (file.size() <= prefix.size() + suffix.size() || file.rfind(prefix, 0) != 0 ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return std::nullopt;
    }
    std::string digits = file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](unsigned char c) { return std::isdigit(c); })) {
        return std::nullopt;
    }
    return std::stoi(digits);
}

std::string withoutPrefix(const std::string& path, const std::string& prefix) {
    if (!prefix.empty() && path.rfind(prefix, 0) == 0) {
        return path.substr(prefix.size());
    }
    return path;
}

Chip describeChip(const std::string& dir, const std::string& entry, const std::string& rootReal) {
    Chip chip;
    chip.dir = dir;
    chip.name = sysfs::readText(dir + "/name")
                    .value_or(sysfs::readText(dir + "/device/name").value_or(entry));
    if (auto device = sysfs::resolve(dir + "/device")) {
        chip.devicePath = withoutPrefix(*device, rootReal);
    } else {
        // Virtual devices have no device link: their own folder, less ".../hwmon/hwmonN".
        std::string own = withoutPrefix(sysfs::resolve(dir).value_or(dir), rootReal);
        auto cut = own.rfind("/hwmon/");
        chip.devicePath = cut == std::string::npos ? own : own.substr(0, cut);
    }
    return chip;
}

// An attribute lives in the hwmon folder or, for older drivers, in its device folder.
std::optional<std::string> attribute(const Chip& chip, const std::string& name) {
    for (const std::string& dir : {chip.dir, chip.dir + "/device"}) {
        std::string path = dir + "/" + name;
        if (sysfs::exists(path)) {
            return path;
        }
    }
    return std::nullopt;
}

std::vector<std::pair<int, std::string>> channels(const Chip& chip, const std::string& prefix) {
    std::map<int, std::string> found;
    for (const std::string& dir : {chip.dir + "/device", chip.dir}) {
        for (const auto& file : sysfs::list(dir)) {
            if (auto n = channelNumber(file, prefix, "_input")) {
                found[*n] = dir + "/" + file; // the hwmon folder wins over the device folder
            }
        }
    }
    return {found.begin(), found.end()};
}

bool hasWord(const std::string& lower, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(),
                       [&](const char* w) { return lower.find(w) != std::string::npos; });
}

} // namespace

std::string HwmonTemperatureChannel::product() const {
    std::string name = chip + " " + label.value_or("temp" + std::to_string(number));
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string chipLower = chip;
    std::transform(chipLower.begin(), chipLower.end(), chipLower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // Make the kind of chip visible to the name-based classification.
    auto chipIs = [&](std::initializer_list<const char*> names) {
        return std::any_of(names.begin(), names.end(),
                           [&](const char* n) { return chipLower == n; });
    };
    if (chipIs({"k10temp", "zenpower", "k8temp", "cpu_thermal", "via_cputemp"}) &&
        !hasWord(lower, {"cpu", "core", "die"})) {
        return name + " CPU";
    }
    if (chipIs({"amdgpu", "radeon", "nouveau", "i915", "xe"}) && !hasWord(lower, {"gpu"})) {
        return name + " GPU";
    }
    if (chipIs({"nvme", "drivetemp"}) && !hasWord(lower, {"ssd", "nand", "storage"})) {
        return name + " SSD";
    }
    if (chipLower.rfind("bat", 0) == 0 && !hasWord(lower, {"batt"})) {
        return name + " Battery";
    }
    return name;
}

HwmonInventory scanHwmon(const std::string& sysfsRoot) {
    const std::string classDir = sysfsRoot + "/class/hwmon";
    const std::string rootReal = sysfs::resolve(sysfsRoot).value_or(sysfsRoot);
    std::vector<Chip> chips;
    for (const auto& entry : sysfs::list(classDir)) {
        chips.push_back(describeChip(classDir + "/" + entry, entry, rootReal));
    }
    std::stable_sort(chips.begin(), chips.end(), [](const Chip& a, const Chip& b) {
        return std::tie(a.devicePath, a.name) < std::tie(b.devicePath, b.name);
    });

    HwmonInventory inventory;
    for (const auto& chip : chips) {
        const std::string base = chip.devicePath + ":" + chip.name;
        for (const auto& [n, input] : channels(chip, "fan")) {
            const std::string fan = "fan" + std::to_string(n);
            const std::string pwm = "pwm" + std::to_string(n);
            HwmonFanChannel channel;
            channel.id = base + ":" + fan;
            channel.devicePath = chip.devicePath;
            channel.chip = chip.name;
            channel.number = n;
            channel.input = input;
            channel.label = attribute(chip, fan + "_label");
            channel.min = attribute(chip, fan + "_min");
            channel.max = attribute(chip, fan + "_max");
            channel.target = attribute(chip, fan + "_target");
            channel.output = attribute(chip, fan + "_output");
            channel.manual = attribute(chip, fan + "_manual");
            channel.pwm = attribute(chip, pwm);
            channel.pwmEnable = attribute(chip, pwm + "_enable");
            inventory.fans.push_back(std::move(channel));
        }
        for (const auto& [n, input] : channels(chip, "temp")) {
            HwmonTemperatureChannel channel;
            channel.id = base + ":temp" + std::to_string(n);
            channel.chip = chip.name;
            channel.number = n;
            channel.input = input;
            if (auto labelPath = attribute(chip, "temp" + std::to_string(n) + "_label")) {
                channel.label = sysfs::readText(*labelPath);
            }
            inventory.temperatures.push_back(std::move(channel));
        }
    }
    return inventory;
}

} // namespace ventoral
