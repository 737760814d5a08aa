#include "helper/daemon/HelperDaemon.h"

#include "SMCHelperProtocolAdaptor.h"
#include "core/helper/HelperProtocol.h"

#include <cmath>
#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {
namespace {

namespace Reply = HelperProtocol::Reply;

class SMCHelperDelegate final
    : public sdbus::AdaptorInterfaces<com::tesvane::SMCHelperProtocol_adaptor> {
public:
    SMCHelperDelegate(sdbus::IConnection& connection, DirectSMCOperator& smc,
                      LowPowerModeSetter setLowPowerMode, uid_t effectiveUid)
        : AdaptorInterfaces(connection, HelperProtocol::objectPath), smc_(smc),
          setLowPowerMode_(std::move(setLowPowerMode)), euid_(effectiveUid) {
        registerAdaptor();
    }
    ~SMCHelperDelegate() { unregisterAdaptor(); }

private:
    using Result = std::tuple<bool, std::string>;

    Result Ping() override { return {true, Reply::pingPrefix + std::to_string(euid_) + ")"}; }

    Result SetFanRPM(const int64_t& index, const double& rpm) override {
        // The speed is narrowed to a 32-bit float; one beyond a float becomes infinite and is
        // refused with the rest of the non-finite values.
        if (smc_.setFanRPM(index, static_cast<float>(rpm))) {
            return {true, {}};
        }
        return {false, Reply::rpmFailedPrefix + std::to_string(index)};
    }

    Result SetFanMode(const int64_t& index, const int64_t& mode) override {
        if (smc_.setFanMode(index, mode)) {
            return {true, {}};
        }
        return {false, Reply::modeFailedPrefix + std::to_string(index)};
    }

    Result ResetAllFansToAuto() override {
        if (smc_.resetAllFansToAuto()) {
            return {true, {}};
        }
        return {false, Reply::resetFailed};
    }

    Result SetLowPowerMode(const bool& enabled) override {
        if (setLowPowerMode_(enabled)) {
            return {true, {}};
        }
        return {false, Reply::lowPowerModeFailed};
    }

    DirectSMCOperator& smc_;
    LowPowerModeSetter setLowPowerMode_;
    uid_t euid_;
};

} // namespace

int serveHelperInterface(sdbus::IConnection& connection, DirectSMCOperator& smc,
                         LowPowerModeSetter setLowPowerMode, uid_t effectiveUid) {
    SMCHelperDelegate delegate(connection, smc, std::move(setLowPowerMode), effectiveUid);
    connection.enterEventLoop();
    return 0;
}

int runHelperDaemon(DirectSMCOperator& smc, LowPowerModeSetter setLowPowerMode, uid_t effectiveUid,
                    std::ostream& err) {
    std::unique_ptr<sdbus::IConnection> connection;
    try {
        connection = sdbus::createSystemBusConnection(HelperProtocol::busName);
    } catch (const sdbus::Error& error) {
        err << "VentoralHelper: cannot serve " << HelperProtocol::busName
            << " on the system bus: " << error.getMessage() << "\n";
        return HelperProtocol::ExitStatus::rejected;
    }
    return serveHelperInterface(*connection, smc, std::move(setLowPowerMode), effectiveUid);
}

} // namespace ventoral
