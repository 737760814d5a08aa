#pragma once

#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

namespace ventoral::testing {

// A dbus-daemon of our own, configured as a permissive system bus on a socket in a temporary
// folder. Point DBUS_SYSTEM_BUS_ADDRESS at `address()`.
class PrivateBus {
public:
    PrivateBus();
    const std::string& address() const { return address_; }
    // Listening: the daemon has printed its address.
    bool isUp() const { return up_; }

    // The helper program at `helperPath` serving its daemon on this bus over the fixture
    // machine at `sysfsRoot`; none if its name did not appear in time.
    std::unique_ptr<BackgroundProcess> startHelperDaemon(const std::string& helperPath,
                                                         const std::string& sysfsRoot) const;
    // python3-dbusmock's polkitd on this bus, answering yes for `allowed` actions and no for any
    // other; none if it did not appear in time.
    std::unique_ptr<BackgroundProcess> startPolkit(const std::vector<std::string>& allowed) const;
    // How many CheckAuthorization calls the polkitd of `startPolkit` has answered.
    int polkitChecks() const;

private:
    TemporaryFolder folder_;
    std::string address_;
    std::unique_ptr<BackgroundProcess> daemon_;
    bool up_ = false;
};

} // namespace ventoral::testing
