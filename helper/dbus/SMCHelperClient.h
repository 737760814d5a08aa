#pragma once

#include "SMCHelperProtocolProxy.h"
#include "core/helper/HelperProtocol.h"

#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {

// A caller of the helper daemon's interface over `connection`, made from the generated proxy.
class SMCHelperClient final : public sdbus::ProxyInterfaces<com::tesvane::SMCHelperProtocol_proxy> {
public:
    explicit SMCHelperClient(sdbus::IConnection& connection)
        : ProxyInterfaces(connection, HelperProtocol::busName, HelperProtocol::objectPath) {
        registerProxy();
    }
    ~SMCHelperClient() { unregisterProxy(); }
};

} // namespace ventoral
