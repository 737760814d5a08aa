#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ventoral {

// One worker thread running jobs one at a time, in the order they were queued.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    // Finishes the job under way, drops the rest and joins the worker; from a job of its own it
    // lets the worker end by itself instead.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> job);
    // Blocks until every job queued so far has run (for tests and shutdown).
    void drain();
    const std::string& label() const { return label_; }

private:
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    bool* destroyedFlag_ = nullptr; // the worker's own, set by a destructor running on it
    std::thread worker_;
};

} // namespace ventoral
