#pragma once

#include "SMCHelperProtocolProxy.h"
#include "core/helper/HelperProtocol.h"

#include <cstdint>
#include <functional>
#include <sdbus-c++/sdbus-c++.h>
#include <string>

namespace ventoral {

// A caller of the helper daemon's interface over `connection`, made from the generated proxy.
// The calibration signals reach the handlers given, on the connection's event loop.
class SMCHelperClient final : public sdbus::ProxyInterfaces<com::tesvane::SMCHelperProtocol_proxy> {
public:
    using ProgressHandler =
        std::function<void(std::int64_t index, double fraction, const std::string& message)>;
    using FinishedHandler =
        std::function<void(std::int64_t index, bool success, const std::string& message)>;

    explicit SMCHelperClient(sdbus::IConnection& connection, ProgressHandler progress = {},
                             FinishedHandler finished = {})
        : ProxyInterfaces(connection, HelperProtocol::busName, HelperProtocol::objectPath),
          progress_(std::move(progress)), finished_(std::move(finished)) {
        registerProxy();
    }
    ~SMCHelperClient() { unregisterProxy(); }

private:
    void onCalibrationProgress(const int64_t& index, const double& fraction,
                               const std::string& message) override {
        if (progress_) {
            progress_(index, fraction, message);
        }
    }
    void onCalibrationFinished(const int64_t& index, const bool& success,
                               const std::string& message) override {
        if (finished_) {
            finished_(index, success, message);
        }
    }

    ProgressHandler progress_;
    FinishedHandler finished_;
};

} // namespace ventoral
