#pragma once

#include "platform/power/PowerProfiles.h"

#include <functional>
#include <memory>

namespace ventoral {

// Calls `changed` (on its own thread) whenever a profile daemon's properties change, under
// either bus name, and whenever either name gains or loses its owner. None when the bus cannot
// be reached.
class PowerProfileWatcher {
public:
    static std::unique_ptr<PowerProfileWatcher> start(const BusOpener& systemBus,
                                                      std::function<void()> changed);
    ~PowerProfileWatcher();

private:
    PowerProfileWatcher() = default;
    std::unique_ptr<sdbus::IConnection> connection_;
    std::vector<std::unique_ptr<sdbus::IProxy>> proxies_;
};

} // namespace ventoral
