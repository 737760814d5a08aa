#pragma once

#include "platform/power/PowerProfiles.h"

#include <optional>
#include <string>

namespace ventoral {

// Switches the machine's low-power profile: through power-profiles-daemon (or a daemon that
// offers its interface) when one owns the bus name, else through the ACPI platform profile.
// Never both: two writers of the profile fight.
class LowPowerModeSwitch {
public:
    LowPowerModeSwitch(std::string sysfsRoot, BusOpener systemBus);

    // True when the profile was set and reads back as set.
    bool setLowPowerMode(bool enabled);

    // Through the profile daemon only: none when no daemon owns its name, else whether the
    // switch was made (a user may be allowed to switch without any elevation).
    std::optional<bool> setThroughDaemon(bool enabled);

private:
    bool setPlatformProfile(bool enabled);

    std::string sysfsRoot_;
    BusOpener systemBus_;
};

} // namespace ventoral
