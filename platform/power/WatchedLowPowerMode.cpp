#include "platform/power/WatchedLowPowerMode.h"

#include "platform/system/ProcessEnvironment.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sdbus-c++/sdbus-c++.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ventoral {

WatchedLowPowerMode::WatchedLowPowerMode(std::string sysfsRoot, BusOpener systemBus)
    : sysfsRoot_(std::move(sysfsRoot)), systemBus_(std::move(systemBus)),
      flag_(sysfsRoot_, systemBus_) {}

WatchedLowPowerMode::~WatchedLowPowerMode() {
    daemonWatch_.reset();
    if (profileWatch_.joinable()) {
        const std::uint64_t one = 1;
        (void)::write(stopFd_, &one, sizeof one);
        profileWatch_.join();
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
    }
}

std::shared_ptr<WatchedLowPowerMode> WatchedLowPowerMode::shared() {
    static auto instance = std::make_shared<WatchedLowPowerMode>(sysfsRoot(), openSystemBus);
    return instance;
}

bool WatchedLowPowerMode::isEnabled() {
    startWatching(); // before the first read, so that no change falls between them
    std::lock_guard guard(mutex_);
    if (!value_) {
        value_ = flag_.isEnabled();
    }
    return *value_;
}

void WatchedLowPowerMode::subscribe(std::function<void(bool)> onChange) {
    {
        std::lock_guard guard(mutex_);
        subscribers_.push_back(std::move(onChange));
    }
    startWatching();
}

void WatchedLowPowerMode::refresh() {
    std::vector<std::function<void(bool)>> tell;
    bool now = false;
    {
        std::lock_guard guard(mutex_);
        now = flag_.isEnabled();
        if (value_ != now) {
            value_ = now;
            tell = subscribers_;
        }
    }
    for (const auto& subscriber : tell) {
        subscriber(now);
    }
}

void WatchedLowPowerMode::startWatching() {
    {
        std::lock_guard guard(mutex_);
        if (watching_) {
            return;
        }
        watching_ = true;
    }
    daemonWatch_ = PowerProfileWatcher::start(systemBus_, [this] { refresh(); });
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopFd_ >= 0) {
        profileWatch_ = std::thread([this] { watchPlatformProfile(); });
    }
}

// sysfs wakes pollers of an attribute with POLLPRI when the attribute changes.
void WatchedLowPowerMode::watchPlatformProfile() {
    const std::string path = platformProfileFolder(sysfsRoot_) + "/platform_profile";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    char buffer[64];
    (void)::read(fd, buffer, sizeof buffer); // armed by a read
    while (true) {
        pollfd fds[] = {{fd, POLLPRI | POLLERR, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if (fds[0].revents & (POLLPRI | POLLERR)) {
            (void)::lseek(fd, 0, SEEK_SET);
            const bool gone = ::read(fd, buffer, sizeof buffer) < 0;
            refresh();
            if (gone) {
                break; // the attribute went with its driver: nothing more will come
            }
        }
    }
    ::close(fd);
}

} // namespace ventoral
