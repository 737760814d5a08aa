#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ventoral {

// The machine's USB-C ports in a stable order, the devices behind each, and the port (and its
// type) through which the machine itself is powered.
struct USBPortTopologySnapshot {
    struct Port {
        std::int64_t channel = 0; // 1-based
        std::string portDescription;
        std::vector<std::string> deviceNames;
        friend bool operator==(const Port&, const Port&) = default;
    };
    // Raw readings of the device registry.
    struct PortNode {
        std::string portDescription;
        std::int64_t portNumber = 0;
        std::string typeDescription; // empty when the registry has none
        friend bool operator==(const PortNode&, const PortNode&) = default;
    };
    struct DeviceNode {
        std::string portDescription;
        std::string name;
        std::optional<std::int64_t> deviceClass;
        std::int64_t locationID = 0;
        friend bool operator==(const DeviceNode&, const DeviceNode&) = default;
    };

    std::vector<Port> ports;
    std::optional<std::string> inputPortType;
    std::optional<std::int64_t> inputChannel;

    static const USBPortTopologySnapshot& empty();
    static USBPortTopologySnapshot make(std::vector<PortNode> usbCPorts,
                                        std::vector<DeviceNode> devices,
                                        const std::optional<PortNode>& inputPort);

    // The device name for a port: its only name, or the first and " +" the number of others.
    std::optional<std::string> name(std::int64_t channel) const;

    friend bool operator==(const USBPortTopologySnapshot&,
                           const USBPortTopologySnapshot&) = default;
};

} // namespace ventoral
