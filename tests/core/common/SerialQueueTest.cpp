#include "core/common/SerialQueue.h"

#include "tests/support/ChildProcess.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace ventoral {
namespace {

TEST(SerialQueue, RunsJobsOneAtATimeInOrder) {
    SerialQueue queue("test");
    std::vector<int> order;
    std::atomic<int> running{0};
    bool overlapped = false;
    for (int i = 0; i < 50; ++i) {
        queue.async([&, i] {
            overlapped = overlapped || running.fetch_add(1) != 0;
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue.drain();
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[i], i);
    }
}

// An owner whose last reference goes away inside one of its own queue's jobs.
struct Owner {
    SerialQueue queue{"owner"};
};

TEST(SerialQueue, AnOwnerReleasedInsideItsOwnJobIsTornDownSafely) {
    auto owner = std::make_shared<Owner>();
    std::weak_ptr<Owner> weak = owner;
    // Shared, so a job that finishes after a failed wait still has it.
    auto done = std::make_shared<std::atomic<bool>>(false);
    owner->queue.async([keep = std::move(owner), done]() mutable {
        keep.reset(); // the queue's destructor runs here, on its own worker
        *done = true;
    });
    ASSERT_TRUE(testing::waitUntil([&] { return done->load(); }, 10));
    EXPECT_TRUE(weak.expired());
}

} // namespace
} // namespace ventoral
