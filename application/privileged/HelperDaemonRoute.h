#pragma once

#include "platform/power/PowerProfiles.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

namespace ventoral {

class SMCHelperClient;

// The helper daemon on the system bus: one connection, made on first use and kept. Once the
// daemon cannot be reached the route is given up for the session, until an authorization makes
// it worth trying again.
class HelperDaemonRoute {
public:
    explicit HelperDaemonRoute(BusOpener systemBus);
    ~HelperDaemonRoute();
    HelperDaemonRoute(const HelperDaemonRoute&) = delete;
    HelperDaemonRoute& operator=(const HelperDaemonRoute&) = delete;

    // One call's answer: true or false with the daemon's message, or not reached at all.
    struct Reply {
        bool reached = false;
        bool success = false;
        std::string message;
    };
    using Call = std::function<std::tuple<bool, std::string>(SMCHelperClient&)>;

    // One caller at a time: the writer makes every call from its bus queue.
    Reply call(const Call& call);
    // Drops the connection and stops trying for this session.
    void giveUp();
    bool isUnavailableForSession() const;
    void makeEligibleAgain();

private:
    BusOpener systemBus_;
    mutable std::mutex lock_;
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<SMCHelperClient> client_;
    bool unavailableForSession_ = false;
};

} // namespace ventoral
