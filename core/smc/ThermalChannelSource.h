#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ventoral {

// One temperature channel of the machine's thermal event system.
class ThermalChannel {
public:
    virtual ~ThermalChannel() = default;
    // A readable name ("Product"); none when the channel has no name.
    virtual std::optional<std::string> product() const = 0;
    // The current reading in °C; none when the channel produced no event.
    virtual std::optional<double> currentTemperature() = 0;
};

class ThermalChannelSource {
public:
    virtual ~ThermalChannelSource() = default;
    // Every channel, in a stable order; an element may be null. Empty: none this time.
    virtual std::vector<std::shared_ptr<ThermalChannel>> copyServices() = 0;
    // Around one reading of every temperature, channels and controller keys alike: a source
    // whose channels the controller's keys also read may read each of them once in between.
    virtual void beginPass() {}
    virtual void endPass() {}
};

} // namespace ventoral
