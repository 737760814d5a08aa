#pragma once

#include <functional>

namespace ventoral {

// The application's main thread, as the shared services reach it. The application installs
// its event loop's executor at start; until then (command-line modes, tests) jobs run at once
// on the calling thread.
using MainThreadJob = std::function<void()>;
void setMainThreadExecutor(std::function<void(MainThreadJob)> executor);
void postToMainThread(MainThreadJob job);

} // namespace ventoral
