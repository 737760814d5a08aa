#include "platform/power/LowPowerModeSwitch.h"

#include "platform/sysfs/SysfsFiles.h"

#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {

LowPowerModeSwitch::LowPowerModeSwitch(std::string sysfsRoot, BusOpener systemBus)
    : sysfsRoot_(std::move(sysfsRoot)), systemBus_(std::move(systemBus)) {}

std::optional<bool> LowPowerModeSwitch::setThroughDaemon(bool enabled) {
    auto bus = systemBus_ ? systemBus_() : nullptr;
    if (!bus) {
        return std::nullopt;
    }
    const std::string wanted = enabled ? powerSaverProfile : balancedProfile;
    const PowerProfilesService* service = nullptr;
    try {
        service = activeProfilesService(*bus);
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
    if (!service) {
        return std::nullopt;
    }
    try {
        auto proxy = sdbus::createProxy(*bus, service->busName, service->objectPath);
        proxy->setProperty(activeProfileProperty)
            .onInterface(service->interfaceName)
            .toValue(sdbus::Variant(wanted));
        // Some setups fall back to balanced without saying so: believe only a read-back.
        sdbus::Variant now =
            proxy->getProperty(activeProfileProperty).onInterface(service->interfaceName);
        return now.get<std::string>() == wanted;
    } catch (const sdbus::Error&) {
        return false; // the daemon owns the profile; do not fight it through sysfs
    }
}

bool LowPowerModeSwitch::setPlatformProfile(bool enabled) {
    const std::string folder = platformProfileFolder(sysfsRoot_);
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
