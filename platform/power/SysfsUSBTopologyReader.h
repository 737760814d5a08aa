#pragma once

#include "core/power/PowerPlatform.h"

#include <string>

namespace ventoral {

// USB-C ports from <sysfs>/class/typec, the devices behind them from <sysfs>/bus/usb/devices
// (a device belongs to the Type-C port its root-hub port is wired to), and the input port from
// the USB-C supply that powers the machine.
class SysfsUSBTopologyReader final : public USBTopologyReader {
public:
    explicit SysfsUSBTopologyReader(std::string sysfsRoot) : root_(std::move(sysfsRoot)) {}
    USBPortTopologySnapshot readTopology() override;

private:
    std::string root_;
};

// Parsed parts of a USB device name such as "3-1.4.2": bus 3, ports 1, 4, 2.
struct USBDeviceAddress {
    int bus = 0;
    std::vector<int> ports;
    friend bool operator==(const USBDeviceAddress&, const USBDeviceAddress&) = default;
};
std::optional<USBDeviceAddress> parseUSBDeviceName(const std::string& name);
// A location id in the registry's style: the bus in the top byte, then one nibble per port.
std::int64_t usbLocationID(const USBDeviceAddress& address);

} // namespace ventoral
