#include "application/privileged/HelperUnitStatus.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <thread>

namespace ventoral {
namespace {

using namespace std::chrono_literals;
using Time = std::chrono::steady_clock::time_point;

// A unit whose state the test sets, and which notes the thread of each read.
struct FakeUnit {
    std::mutex lock;
    DaemonStatus state = DaemonStatus::notRegistered;
    std::vector<std::thread::id> readers;
    Time now{};

    HelperUnitStatus::Reader reader() {
        return [this] {
            std::lock_guard guard(lock);
            readers.push_back(std::this_thread::get_id());
            return state;
        };
    }
    HelperUnitStatus::SteadyClock clock() {
        return [this] {
            std::lock_guard guard(lock);
            return now;
        };
    }
    void set(DaemonStatus s) {
        std::lock_guard guard(lock);
        state = s;
    }
    void advance(std::chrono::seconds by) {
        std::lock_guard guard(lock);
        now += by;
    }
    std::size_t reads() {
        std::lock_guard guard(lock);
        return readers.size();
    }
};

TEST(HelperUnitStatus, OnlyTheFirstAnswerIsReadOnTheCallersThread) {
    FakeUnit unit;
    HelperUnitStatus status(unit.reader(), 10s, unit.clock());
    const auto caller = std::this_thread::get_id();

    EXPECT_EQ(status.current(), DaemonStatus::notRegistered);
    ASSERT_EQ(unit.reads(), 1u);
    EXPECT_EQ(unit.readers[0], caller);

    unit.set(DaemonStatus::enabled);
    unit.advance(9s);
    EXPECT_EQ(status.current(), DaemonStatus::notRegistered); // young enough: no read at all
    status.drain();
    EXPECT_EQ(unit.reads(), 1u);

    unit.advance(1s);
    EXPECT_EQ(status.current(), DaemonStatus::notRegistered); // stale: answered from the copy
    status.current();                                         // one refresh at a time
    status.drain();
    ASSERT_EQ(unit.reads(), 2u);
    EXPECT_NE(unit.readers[1], caller);
    EXPECT_EQ(status.current(), DaemonStatus::enabled);

    // What this program changes is read at once.
    unit.set(DaemonStatus::notFound);
    EXPECT_EQ(status.refreshNow(), DaemonStatus::notFound);
    EXPECT_EQ(status.current(), DaemonStatus::notFound);
}

TEST(HelperUnitStatus, ASlowBackgroundReadDoesNotReplaceANewerAnswer) {
    FakeUnit unit;
    std::mutex gate;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int> calls{0};
    const auto caller = std::this_thread::get_id();
    auto reader = [&]() {
        ++calls;
        if (std::this_thread::get_id() != caller) { // the background read waits for the newer one
            std::unique_lock lock(gate);
            opened.wait_for(lock, 10s, [&] { return open; });
            return DaemonStatus::notRegistered;
        }
        return DaemonStatus::enabled;
    };
    HelperUnitStatus status(reader, 10s, unit.clock());
    EXPECT_EQ(status.current(), DaemonStatus::enabled);
    unit.advance(11s);
    EXPECT_EQ(status.current(), DaemonStatus::enabled); // starts the slow refresh
    unit.advance(1s);
    EXPECT_EQ(status.refreshNow(), DaemonStatus::enabled);
    {
        std::lock_guard lock(gate);
        open = true;
    }
    opened.notify_all();
    status.drain();
    EXPECT_EQ(calls.load(), 3);
    EXPECT_EQ(status.current(), DaemonStatus::enabled);
}

} // namespace
} // namespace ventoral
