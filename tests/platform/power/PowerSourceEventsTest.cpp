#include "platform/power/PowerSourceEvents.h"

#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

namespace ventoral {
namespace {

// Events from a pipe: each byte is one event, 'p' a power-supply change.
class PipeEvents final : public PowerSourceEvents {
public:
    explicit PipeEvents(int readEnd) : fd_(readEnd) {}
    ~PipeEvents() override { ::close(fd_); }
    int fd() const override { return fd_; }
    bool receive() override {
        char c = 0;
        return ::read(fd_, &c, 1) == 1 && c == 'p';
    }

private:
    int fd_;
};

TEST(PowerSourceEventMonitor, ChangesReachTheMainThread) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::mutex lock;
    std::vector<std::function<void()>> posted;
    int changes = 0;
    {
        PowerSourceEventMonitor monitor([&] { return std::make_unique<PipeEvents>(fds[0]); },
                                        [&](std::function<void()> job) {
                                            std::lock_guard guard(lock);
                                            posted.push_back(std::move(job));
                                        });
        ASSERT_TRUE(monitor.start([&] { ++changes; }));
        EXPECT_TRUE(monitor.start([] {})); // one watcher only
        ASSERT_EQ(::write(fds[1], "pxp", 3), 3);
        testing::waitUntil(
            [&] {
                std::lock_guard guard(lock);
                return posted.size() == 2;
            },
            10);
    } // the monitor stops and joins its watcher here
    ASSERT_EQ(posted.size(), 2u);
    for (auto& job : posted) {
        job();
    }
    EXPECT_EQ(changes, 2);
    ::close(fds[1]);
}

TEST(PowerSourceEventMonitor, AnUnavailableSourceIsReported) {
    PowerSourceEventMonitor monitor([] { return nullptr; }, [](std::function<void()>) {});
    EXPECT_FALSE(monitor.start([] {}));
}

TEST(PowerSourceEventMonitor, TheUdevMonitorOpens) {
    auto events = openUdevPowerSupplyEvents();
    if (!events) {
        GTEST_SKIP() << "no uevent netlink socket in this environment";
    }
    EXPECT_GE(events->fd(), 0);
}

} // namespace
} // namespace ventoral
