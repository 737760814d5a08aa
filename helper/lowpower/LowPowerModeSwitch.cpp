#include "helper/lowpower/LowPowerModeSwitch.h"

#include "platform/sysfs/SysfsFiles.h"

#include <algorithm>
#include <sdbus-c++/sdbus-c++.h>
#include <sstream>
#include <vector>

namespace ventoral {
namespace {

struct PowerProfilesService {
    const char* busName;
    const char* objectPath;
    const char* interfaceName;
};

constexpr PowerProfilesService powerProfilesServices[] = {
    {"org.freedesktop.UPower.PowerProfiles", "/org/freedesktop/UPower/PowerProfiles",
     "org.freedesktop.UPower.PowerProfiles"},
    {"net.hadess.PowerProfiles", "/net/hadess/PowerProfiles", "net.hadess.PowerProfiles"},
};

bool hasOwner(sdbus::IConnection& bus, const std::string& name) {
    auto dbus = sdbus::createProxy(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bool owned = false;
    dbus->callMethod("NameHasOwner")
        .onInterface("org.freedesktop.DBus")
        .withArguments(name)
        .storeResultsTo(owned);
    return owned;
}

} // namespace

std::unique_ptr<sdbus::IConnection> openSystemBus() {
    try {
        return sdbus::createSystemBusConnection();
    } catch (const sdbus::Error&) {
        return nullptr;
    }
}

std::optional<std::string> platformProfileFor(bool enabled, const std::string& choices) {
    std::istringstream in(choices);
    std::vector<std::string> offered;
    for (std::string word; in >> word;) {
        offered.push_back(word);
    }
    auto offers = [&](const char* name) {
        return std::find(offered.begin(), offered.end(), name) != offered.end();
    };
    if (!enabled) {
        return offers("balanced") ? std::optional<std::string>("balanced") : std::nullopt;
    }
    for (const char* name : {"low-power", "quiet", "cool"}) {
        if (offers(name)) {
            return std::string(name);
        }
    }
    return std::nullopt;
}

LowPowerModeSwitch::LowPowerModeSwitch(std::string sysfsRoot, BusOpener systemBus)
    : sysfsRoot_(std::move(sysfsRoot)), systemBus_(std::move(systemBus)) {}

std::optional<bool> LowPowerModeSwitch::setThroughDaemon(bool enabled) {
    auto bus = systemBus_ ? systemBus_() : nullptr;
    if (!bus) {
        return std::nullopt;
    }
    const std::string wanted = enabled ? "power-saver" : "balanced";
    try {
        for (const auto& service : powerProfilesServices) {
            if (!hasOwner(*bus, service.busName)) {
                continue;
            }
            try {
                auto proxy = sdbus::createProxy(*bus, service.busName, service.objectPath);
                proxy->setProperty("ActiveProfile")
                    .onInterface(service.interfaceName)
                    .toValue(sdbus::Variant(wanted));
                // Some setups fall back to balanced without saying so: believe only a read-back.
                sdbus::Variant now =
                    proxy->getProperty("ActiveProfile").onInterface(service.interfaceName);
                return now.get<std::string>() == wanted;
            } catch (const sdbus::Error&) {
                return false; // the daemon owns the profile; do not fight it through sysfs
            }
        }
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
    return std::nullopt;
}

bool LowPowerModeSwitch::setPlatformProfile(bool enabled) {
    const std::string folder = sysfsRoot_ + "/firmware/acpi";
    auto choices = sysfs::readText(folder + "/platform_profile_choices");
    if (!choices) {
        return false;
    }
    auto profile = platformProfileFor(enabled, *choices);
    if (!profile || sysfs::write(folder + "/platform_profile", *profile) != 0) {
        return false;
    }
    return sysfs::readText(folder + "/platform_profile") == profile;
}

bool LowPowerModeSwitch::setLowPowerMode(bool enabled) {
    if (auto viaDaemon = setThroughDaemon(enabled)) {
        return *viaDaemon;
    }
    return setPlatformProfile(enabled);
}

} // namespace ventoral
