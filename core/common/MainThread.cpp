#include "core/common/MainThread.h"

#include <memory>
#include <mutex>

namespace ventoral {
namespace {

std::mutex executorLock;
std::shared_ptr<std::function<void(MainThreadJob)>> executor;

} // namespace

void setMainThreadExecutor(std::function<void(MainThreadJob)> newExecutor) {
    std::lock_guard guard(executorLock);
    executor = newExecutor
                   ? std::make_shared<std::function<void(MainThreadJob)>>(std::move(newExecutor))
                   : nullptr;
}

void postToMainThread(MainThreadJob job) {
    std::shared_ptr<std::function<void(MainThreadJob)>> current;
    {
        std::lock_guard guard(executorLock);
        current = executor;
    }
    if (current) {
        (*current)(std::move(job));
    } else if (job) {
        job();
    }
}

} // namespace ventoral
