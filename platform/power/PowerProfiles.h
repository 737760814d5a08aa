#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace sdbus {
class IConnection;
class IProxy;
} // namespace sdbus

namespace ventoral {

// power-profiles-daemon and the daemons that offer its interface, newest name first.
struct PowerProfilesService {
    const char* busName;
    const char* objectPath;
    const char* interfaceName;
};
inline constexpr PowerProfilesService powerProfilesServices[] = {
    {"org.freedesktop.UPower.PowerProfiles", "/org/freedesktop/UPower/PowerProfiles",
     "org.freedesktop.UPower.PowerProfiles"},
    {"net.hadess.PowerProfiles", "/net/hadess/PowerProfiles", "net.hadess.PowerProfiles"},
};
inline constexpr const char* activeProfileProperty = "ActiveProfile";
inline constexpr const char* powerSaverProfile = "power-saver";
inline constexpr const char* balancedProfile = "balanced";

using BusOpener = std::function<std::unique_ptr<sdbus::IConnection>()>;

// The system bus, honouring DBUS_SYSTEM_BUS_ADDRESS as sd-bus does; none when unreachable.
std::unique_ptr<sdbus::IConnection> openSystemBus();

// The profile daemon that owns its name on `bus`, if any. Raises sdbus::Error when the bus
// cannot be asked.
const PowerProfilesService* activeProfilesService(sdbus::IConnection& bus);

// The platform_profile value for on ("low-power", else "quiet", else "cool") or off
// ("balanced"), given the space-separated choices; none when the machine offers none of them.
std::optional<std::string> platformProfileFor(bool enabled, const std::string& choices);

// <sysfs>/firmware/acpi, where the platform profile lives.
std::string platformProfileFolder(const std::string& sysfsRoot);

// Whether Low Power Mode is on: the profile daemon's active profile when one owns its name,
// else the ACPI platform profile. The bus connection is kept and reopened after a failure.
class LowPowerModeFlag {
public:
    LowPowerModeFlag(std::string sysfsRoot, BusOpener systemBus);
    ~LowPowerModeFlag();
    bool isEnabled();

private:
    std::optional<bool> fromDaemon();
    bool fromPlatformProfile();

    std::string sysfsRoot_;
    BusOpener systemBus_;
    std::unique_ptr<sdbus::IConnection> bus_;
};

} // namespace ventoral
