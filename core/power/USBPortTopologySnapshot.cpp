#include "core/power/USBPortTopologySnapshot.h"

#include "core/common/Format.h"

#include <algorithm>

namespace ventoral {
namespace {

constexpr std::int64_t hubClass = 9;
constexpr std::int64_t billboardClass = 17;

} // namespace

const USBPortTopologySnapshot& USBPortTopologySnapshot::empty() {
    static const USBPortTopologySnapshot value{};
    return value;
}

USBPortTopologySnapshot USBPortTopologySnapshot::make(std::vector<PortNode> usbCPorts,
                                                      std::vector<DeviceNode> devices,
                                                      const std::optional<PortNode>& inputPort) {
    std::stable_sort(usbCPorts.begin(), usbCPorts.end(), [](const PortNode& a, const PortNode& b) {
        return a.portNumber < b.portNumber;
    });
    std::stable_sort(devices.begin(), devices.end(), [](const DeviceNode& a, const DeviceNode& b) {
        return a.locationID < b.locationID;
    });

    USBPortTopologySnapshot topology;
    for (std::size_t i = 0; i < usbCPorts.size(); ++i) {
        Port port{static_cast<std::int64_t>(i + 1), usbCPorts[i].portDescription, {}};
        for (const DeviceNode& device : devices) {
            if (device.portDescription != port.portDescription ||
                (device.deviceClass &&
                 (*device.deviceClass == hubClass || *device.deviceClass == billboardClass))) {
                continue;
            }
            std::string name(trimWhitespace(device.name));
            if (!name.empty() && std::find(port.deviceNames.begin(), port.deviceNames.end(),
                                           name) == port.deviceNames.end()) {
                port.deviceNames.push_back(std::move(name));
            }
        }
        topology.ports.push_back(std::move(port));
    }
    if (inputPort) {
        for (const Port& port : topology.ports) {
            if (port.portDescription == inputPort->portDescription) {
                topology.inputChannel = port.channel;
                break;
            }
        }
        if (!inputPort->typeDescription.empty()) {
            topology.inputPortType = inputPort->typeDescription;
        }
    }
    return topology;
}

std::optional<std::string> USBPortTopologySnapshot::name(std::int64_t channel) const {
    auto port = std::find_if(ports.begin(), ports.end(),
                             [&](const Port& p) { return p.channel == channel; });
    if (port == ports.end() || port->deviceNames.empty()) {
        return std::nullopt;
    }
    if (port->deviceNames.size() == 1) {
        return port->deviceNames.front();
    }
    return port->deviceNames.front() + " +" + std::to_string(port->deviceNames.size() - 1);
}

} // namespace ventoral
