#include "core/common/SerialQueue.h"

namespace ventoral {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    worker_ = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    if (worker_.get_id() == std::this_thread::get_id()) {
        // The last owner let go inside a job: the worker must not join itself, and must not
        // touch this object again once the job returns.
        *destroyedFlag_ = true;
        worker_.detach();
    } else {
        worker_.join();
    }
}

void SerialQueue::async(std::function<void()> job) {
    {
        std::lock_guard guard(mutex_);
        if (stopping_) {
            return;
        }
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void SerialQueue::drain() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return (jobs_.empty() && !busy_) || stopping_; });
}

void SerialQueue::run() {
    bool destroyed = false;
    destroyedFlag_ = &destroyed;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (stopping_) {
            return;
        }
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        job();
        if (destroyed) {
            return;
        }
        job = nullptr;
        if (destroyed) {
            return;
        }
        lock.lock();
        busy_ = false;
        if (stopping_) {
            return;
        }
        if (jobs_.empty()) {
            idle_.notify_all();
        }
    }
}

} // namespace ventoral
