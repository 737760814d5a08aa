#pragma once

#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>

namespace ventoral::testing {

// A dbus-daemon of our own, configured as a permissive system bus on a socket in a temporary
// folder. Point DBUS_SYSTEM_BUS_ADDRESS at `address()`.
class PrivateBus {
public:
    PrivateBus();
    const std::string& address() const { return address_; }
    bool isUp() const { return up_; }

private:
    TemporaryFolder folder_;
    std::string address_;
    std::unique_ptr<BackgroundProcess> daemon_;
    bool up_ = false;
};

} // namespace ventoral::testing
