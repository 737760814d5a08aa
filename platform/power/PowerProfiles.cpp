#include "platform/power/PowerProfiles.h"

#include "platform/sysfs/SysfsFiles.h"

#include <algorithm>
#include <sdbus-c++/sdbus-c++.h>
#include <sstream>
#include <vector>

namespace ventoral {

std::unique_ptr<sdbus::IConnection> openSystemBus() {
    try {
        return sdbus::createSystemBusConnection();
    } catch (const sdbus::Error&) {
        return nullptr;
    }
}

const PowerProfilesService* activeProfilesService(sdbus::IConnection& bus) {
    auto dbus = sdbus::createProxy(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    for (const auto& service : powerProfilesServices) {
        bool owned = false;
        dbus->callMethod("NameHasOwner")
            .onInterface("org.freedesktop.DBus")
            .withArguments(std::string(service.busName))
            .storeResultsTo(owned);
        if (owned) {
            return &service;
        }
    }
    return nullptr;
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

std::string platformProfileFolder(const std::string& sysfsRoot) {
    return sysfsRoot + "/firmware/acpi";
}

LowPowerModeFlag::LowPowerModeFlag(std::string sysfsRoot, BusOpener systemBus)
    : sysfsRoot_(std::move(sysfsRoot)), systemBus_(std::move(systemBus)) {}

LowPowerModeFlag::~LowPowerModeFlag() = default;

std::optional<bool> LowPowerModeFlag::fromDaemon() {
    if (!bus_ && systemBus_) {
        bus_ = systemBus_();
    }
    if (!bus_) {
        return std::nullopt;
    }
    try {
        const PowerProfilesService* service = activeProfilesService(*bus_);
        if (!service) {
            return std::nullopt;
        }
        auto proxy = sdbus::createProxy(*bus_, service->busName, service->objectPath);
        sdbus::Variant profile =
            proxy->getProperty(activeProfileProperty).onInterface(service->interfaceName);
        return profile.get<std::string>() == powerSaverProfile;
    } catch (const sdbus::Error&) {
        bus_.reset(); // a broken connection is opened again on the next read
        return std::nullopt;
    }
}

bool LowPowerModeFlag::fromPlatformProfile() {
    const std::string folder = platformProfileFolder(sysfsRoot_);
    auto choices = sysfs::readText(folder + "/platform_profile_choices");
    auto current = sysfs::readText(folder + "/platform_profile");
    if (!choices || !current) {
        return false;
    }
    return platformProfileFor(true, *choices) == *current;
}

bool LowPowerModeFlag::isEnabled() {
    if (auto viaDaemon = fromDaemon()) {
        return *viaDaemon;
    }
    return fromPlatformProfile();
}

} // namespace ventoral
