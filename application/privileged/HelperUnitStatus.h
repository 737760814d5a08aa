#pragma once

#include "core/common/SerialQueue.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace ventoral {

enum class DaemonStatus { notRegistered, enabled, requiresApproval, notFound };

// The helper unit's state as `systemctl is-enabled` reports it; starts a process.
DaemonStatus readHelperUnitStatus(const std::string& systemctl);
// `systemctl enable --now` and `disable --now` of the helper unit; throw SMCError.
void enableHelperUnit(const std::string& systemctl);
void disableHelperUnit(const std::string& systemctl);

// The helper unit's state, known without waiting. Asking systemd starts a process, and callers
// on the main thread (every tick while unauthorized, every fan write) must never wait for one:
// the first answer is read at once, later ones come from a copy that is refreshed in the
// background once it is older than `maxAge`. The state changes rarely, and what changes it in
// this program (an install, a registration) refreshes it at once.
class HelperUnitStatus {
public:
    using Reader = std::function<DaemonStatus()>;
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::seconds defaultMaxAge{10};

    explicit HelperUnitStatus(Reader reader,
                              std::chrono::steady_clock::duration maxAge = defaultMaxAge,
                              SteadyClock clock = std::chrono::steady_clock::now);
    HelperUnitStatus(const HelperUnitStatus&) = delete;
    HelperUnitStatus& operator=(const HelperUnitStatus&) = delete;

    DaemonStatus current();
    // Reads the state now on the caller's thread, for callers already off the main thread.
    DaemonStatus refreshNow();
    // Waits for a background refresh under way (tests).
    void drain() { refresher_.drain(); }

private:
    Reader reader_;
    std::chrono::steady_clock::duration maxAge_;
    SteadyClock clock_;
    std::mutex lock_;
    std::optional<DaemonStatus> known_;
    std::chrono::steady_clock::time_point readAt_{};
    bool refreshing_ = false;
    std::uint64_t generation_ = 0; // answers read on a caller's thread
    // Last: joined first, so no refresh outlives what it uses.
    SerialQueue refresher_{"com.tesvane.smcwriter.unit-status"};
};

} // namespace ventoral
