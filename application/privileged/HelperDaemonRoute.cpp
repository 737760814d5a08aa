#include "application/privileged/HelperDaemonRoute.h"

#include "helper/dbus/SMCHelperClient.h"

#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {

HelperDaemonRoute::HelperDaemonRoute(BusOpener systemBus) : systemBus_(std::move(systemBus)) {}

HelperDaemonRoute::~HelperDaemonRoute() = default;

HelperDaemonRoute::Reply HelperDaemonRoute::call(const Call& call) {
    SMCHelperClient* client = nullptr;
    {
        std::lock_guard guard(lock_);
        if (!client_) {
            connection_ = systemBus_ ? systemBus_() : nullptr;
            if (connection_) {
                try {
                    client_ = std::make_unique<SMCHelperClient>(*connection_);
                } catch (const sdbus::Error&) {
                    connection_.reset();
                }
            }
        }
        client = client_.get();
    }
    if (!client) {
        return {};
    }
    try {
        auto [success, message] = call(*client);
        return {true, success, message};
    } catch (const sdbus::Error&) {
        return {};
    }
}

void HelperDaemonRoute::giveUp() {
    std::unique_ptr<SMCHelperClient> client;
    std::unique_ptr<sdbus::IConnection> connection;
    {
        std::lock_guard guard(lock_);
        client = std::move(client_);
        connection = std::move(connection_);
        unavailableForSession_ = true;
    }
    // Torn down outside the lock, the proxy before its connection.
    client.reset();
}

bool HelperDaemonRoute::isUnavailableForSession() const {
    std::lock_guard guard(lock_);
    return unavailableForSession_;
}

void HelperDaemonRoute::makeEligibleAgain() {
    std::lock_guard guard(lock_);
    unavailableForSession_ = false;
}

} // namespace ventoral
