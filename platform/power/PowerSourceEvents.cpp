#include "platform/power/PowerSourceEvents.h"

#include <cerrno>
#include <cstring>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ventoral {
namespace {

class UdevPowerSupplyEvents final : public PowerSourceEvents {
public:
    UdevPowerSupplyEvents(udev* context, udev_monitor* monitor)
        : context_(context), monitor_(monitor) {}
    ~UdevPowerSupplyEvents() override {
        udev_monitor_unref(monitor_);
        udev_unref(context_);
    }
    int fd() const override { return udev_monitor_get_fd(monitor_); }
    bool receive() override {
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (!device) {
            return false;
        }
        const char* subsystem = udev_device_get_subsystem(device);
        bool powerSupply = subsystem && std::strcmp(subsystem, "power_supply") == 0;
        udev_device_unref(device);
        return powerSupply;
    }

private:
    udev* context_;
    udev_monitor* monitor_;
};

} // namespace

std::unique_ptr<PowerSourceEvents> openUdevPowerSupplyEvents() {
    udev* context = udev_new();
    if (!context) {
        return nullptr;
    }
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "power_supply", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor) {
            udev_monitor_unref(monitor);
        }
        udev_unref(context);
        return nullptr;
    }
    return std::make_unique<UdevPowerSupplyEvents>(context, monitor);
}

PowerSourceEventMonitor::PowerSourceEventMonitor(Opener open, MainThreadExecutor postToMain)
    : open_(std::move(open)), postToMain_(std::move(postToMain)) {}

PowerSourceEventMonitor::~PowerSourceEventMonitor() {
    if (watcher_.joinable()) {
        std::uint64_t one = 1;
        (void)::write(stopFd_, &one, sizeof one);
        watcher_.join();
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
    }
}

bool PowerSourceEventMonitor::start(std::function<void()> onChange) {
    if (watcher_.joinable()) {
        return true;
    }
    events_ = open_ ? open_() : nullptr;
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (!events_ || stopFd_ < 0) {
        events_.reset();
        return false;
    }
    onChange_ = std::move(onChange);
    watcher_ = std::thread([this] { watch(); });
    return true;
}

void PowerSourceEventMonitor::watch() {
    for (;;) {
        pollfd fds[2] = {{events_->fd(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
        int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && !(fds[0].revents & POLLIN)) {
            return;
        }
        if ((fds[0].revents & POLLIN) && events_->receive() && postToMain_) {
            postToMain_(onChange_);
        }
    }
}

} // namespace ventoral
