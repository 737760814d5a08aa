#pragma once

#include "core/power/PowerPlatform.h"

#include <atomic>
#include <memory>
#include <thread>

namespace ventoral {

// A pollable stream of kernel events about power supplies.
class PowerSourceEvents {
public:
    virtual ~PowerSourceEvents() = default;
    virtual int fd() const = 0;
    // Takes one pending event; true when it is a power-supply change.
    virtual bool receive() = 0;
};

// The udev monitor on subsystem power_supply; none when it cannot be opened.
std::unique_ptr<PowerSourceEvents> openUdevPowerSupplyEvents();

// Watches an event stream on its own thread and hands each change to the main thread.
class PowerSourceEventMonitor final : public PowerSourceMonitor {
public:
    using Opener = std::function<std::unique_ptr<PowerSourceEvents>()>;
    PowerSourceEventMonitor(Opener open, MainThreadExecutor postToMain);
    ~PowerSourceEventMonitor() override;

    bool start(std::function<void()> onChange) override;

private:
    void watch();

    Opener open_;
    MainThreadExecutor postToMain_;
    std::unique_ptr<PowerSourceEvents> events_;
    std::function<void()> onChange_;
    int stopFd_ = -1;
    std::thread watcher_;
};

} // namespace ventoral
