#pragma once

#include "core/smc/ThermalChannelSource.h"
#include "platform/hwmon/HwmonReadingMemo.h"

#include <memory>
#include <string>

namespace ventoral {

// Every hwmon temperature channel as a named thermal channel, read in °C.
class HwmonThermalChannelSource final : public ThermalChannelSource {
public:
    // With `readings`, a temperature the controller's keys read moments ago is not read again.
    explicit HwmonThermalChannelSource(std::string sysfsRoot,
                                       std::shared_ptr<HwmonReadingMemo> readings = nullptr);
    std::vector<std::shared_ptr<ThermalChannel>> copyServices() override;
    void beginPass() override;
    void endPass() override;

private:
    std::string root_;
    std::shared_ptr<HwmonReadingMemo> readings_;
};

} // namespace ventoral
