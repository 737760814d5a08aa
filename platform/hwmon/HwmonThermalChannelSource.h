#pragma once

#include "core/smc/ThermalChannelSource.h"

#include <string>

namespace ventoral {

// Every hwmon temperature channel as a named thermal channel, read in °C.
class HwmonThermalChannelSource final : public ThermalChannelSource {
public:
    explicit HwmonThermalChannelSource(std::string sysfsRoot);
    std::vector<std::shared_ptr<ThermalChannel>> copyServices() override;

private:
    std::string root_;
};

} // namespace ventoral
