#pragma once

#include "platform/power/PowerProfileWatcher.h"
#include "platform/power/PowerProfiles.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ventoral {

// Low Power Mode as events keep it: read once, then again only when the profile daemon's
// properties change, its name gains or loses an owner, or the platform profile signals a
// change. Reading it costs nothing; telemetry asks it every tick.
class WatchedLowPowerMode {
public:
    WatchedLowPowerMode(std::string sysfsRoot, BusOpener systemBus);
    ~WatchedLowPowerMode();
    WatchedLowPowerMode(const WatchedLowPowerMode&) = delete;
    WatchedLowPowerMode& operator=(const WatchedLowPowerMode&) = delete;

    // The process's own, over this machine.
    static std::shared_ptr<WatchedLowPowerMode> shared();

    bool isEnabled();
    // Called (on a watching thread) with the new value whenever it changes.
    void subscribe(std::function<void(bool)> onChange);
    // Reads the value again and tells the subscribers if it changed; the watches call this.
    void refresh();

private:
    void startWatching();
    void watchPlatformProfile();

    std::string sysfsRoot_;
    BusOpener systemBus_;
    std::mutex mutex_;
    LowPowerModeFlag flag_;
    std::optional<bool> value_;
    bool watching_ = false;
    std::vector<std::function<void(bool)>> subscribers_;
    std::unique_ptr<PowerProfileWatcher> daemonWatch_;
    int stopFd_ = -1;
    std::thread profileWatch_;
};

} // namespace ventoral
