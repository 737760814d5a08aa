#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace sdbus {
class IConnection;
}

namespace ventoral {

// Switches the machine's low-power profile: through power-profiles-daemon (or a daemon that
// offers its interface) when one owns the bus name, else through the ACPI platform profile.
// Never both: two writers of the profile fight.
class LowPowerModeSwitch {
public:
    using BusOpener = std::function<std::unique_ptr<sdbus::IConnection>()>;

    LowPowerModeSwitch(std::string sysfsRoot, BusOpener systemBus);

    // True when the profile was set and reads back as set.
    bool setLowPowerMode(bool enabled);

private:
    std::optional<bool> setThroughDaemon(bool enabled);
    bool setPlatformProfile(bool enabled);

    std::string sysfsRoot_;
    BusOpener systemBus_;
};

// The platform_profile value for on ("low-power", else "quiet", else "cool") or off
// ("balanced"), given the space-separated choices; none when the machine offers none of them.
std::optional<std::string> platformProfileFor(bool enabled, const std::string& choices);

// The system bus, honouring DBUS_SYSTEM_BUS_ADDRESS as sd-bus does; none when unreachable.
std::unique_ptr<sdbus::IConnection> openSystemBus();

} // namespace ventoral
