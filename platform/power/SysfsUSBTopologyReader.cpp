#include "platform/power/SysfsUSBTopologyReader.h"

#include "platform/power/PowerSupplies.h"
#include "platform/power/SysfsPowerSourceProvider.h"
#include "platform/sysfs/SysfsFiles.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <regex>

namespace ventoral {
namespace {

namespace fs = std::filesystem;

std::optional<int> number(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// "portN" folders of the Type-C class.
std::optional<int> typecPortNumber(const std::string& name) {
    if (name.rfind("port", 0) != 0) {
        return std::nullopt;
    }
    return number(std::string_view(name).substr(4));
}

std::optional<std::int64_t> hexByte(const std::optional<std::string>& text) {
    if (!text) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value, 16);
    if (text->empty() || error != std::errc() || end != text->data() + text->size()) {
        return std::nullopt;
    }
    return value;
}

// Root-hub ports ("usbB-portP") wired to each Type-C port, from the links the kernel's port
// mapper makes on both sides.
std::map<std::string, std::string> rootPortOwners(const std::string& root) {
    static const std::regex usbPort(R"(usb(\d+)-port(\d+))");
    std::map<std::string, std::string> owners;
    const std::string typec = root + "/class/typec";
    for (const std::string& port : sysfs::list(typec)) {
        if (!typecPortNumber(port)) {
            continue;
        }
        for (const std::string& entry : sysfs::list(typec + "/" + port)) {
            if (std::regex_match(entry, usbPort)) {
                owners[entry] = port;
            }
        }
    }
    const std::string devices = root + "/bus/usb/devices";
    for (const std::string& hub : sysfs::list(devices)) {
        if (hub.rfind("usb", 0) != 0) {
            continue;
        }
        auto bus = hub.substr(3);
        const std::string interface = devices + "/" + hub + "/" + bus + "-0:1.0";
        for (const std::string& entry : sysfs::list(interface)) {
            if (!std::regex_match(entry, usbPort)) {
                continue;
            }
            if (auto connector = sysfs::resolve(interface + "/" + entry + "/connector")) {
                owners.emplace(entry, fs::path(*connector).filename().string());
            }
        }
    }
    return owners;
}

// The Type-C port of a USB-C supply: UCSI names its supplies after the 1-based connector.
std::optional<std::string> typecPortOfSupply(const PowerSupply& supply) {
    static const std::regex ucsi(R"(ucsi-source-psy-.*:(\d+))");
    std::smatch match;
    if (std::regex_match(supply.name, match, ucsi)) {
        if (auto connector = number(match[1].str()); connector && *connector > 0) {
            return "port" + std::to_string(*connector - 1);
        }
    }
    if (auto device = sysfs::resolve(supply.dir + "/device")) {
        std::string name = fs::path(*device).filename().string();
        if (typecPortNumber(name)) {
            return name;
        }
    }
    return std::nullopt;
}

std::string supplyTypeText(const PowerSupply& supply) {
    if (supply.type == "Mains") {
        return "AC Adapter";
    }
    std::string usbType = supply.text("usb_type").value_or("");
    return usbType.find("[PD") != std::string::npos ? "USB-C PD" : "USB-C";
}

std::optional<USBPortTopologySnapshot::PortNode> inputPort(const std::string& root) {
    auto external = onlineExternalSupplies(listPowerSupplies(root));
    // A USB-C supply tells more than the mains entry firmware reports beside it.
    std::stable_partition(external.begin(), external.end(),
                          [](const PowerSupply& s) { return s.type != "Mains"; });
    for (const PowerSupply& supply : external) {
        auto port = supply.type == "Mains" ? std::nullopt : typecPortOfSupply(supply);
        std::int64_t portNumber = port ? typecPortNumber(*port).value_or(0) : 0;
        return USBPortTopologySnapshot::PortNode{port.value_or(supply.name), portNumber,
                                                 supplyTypeText(supply)};
    }
    return std::nullopt;
}

} // namespace

std::optional<USBDeviceAddress> parseUSBDeviceName(const std::string& name) {
    auto dash = name.find('-');
    if (dash == std::string::npos) {
        return std::nullopt;
    }
    auto bus = number(std::string_view(name).substr(0, dash));
    if (!bus) {
        return std::nullopt;
    }
    USBDeviceAddress address{*bus, {}};
    std::string_view rest = std::string_view(name).substr(dash + 1);
    while (true) {
        auto dot = rest.find('.');
        auto port = number(rest.substr(0, dot));
        if (!port) {
            return std::nullopt; // interfaces ("1-1:1.0") and root ports ("1-0") are not devices
        }
        address.ports.push_back(*port);
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    if (address.ports.front() == 0) {
        return std::nullopt;
    }
    return address;
}

std::int64_t usbLocationID(const USBDeviceAddress& address) {
    std::int64_t id = static_cast<std::int64_t>(address.bus & 0xff) << 24;
    int shift = 20;
    for (int port : address.ports) {
        if (shift < 0) {
            break;
        }
        id |= static_cast<std::int64_t>(port & 0xf) << shift;
        shift -= 4;
    }
    return id;
}

USBPortTopologySnapshot SysfsUSBTopologyReader::readTopology() {
    using T = USBPortTopologySnapshot;
    std::vector<T::PortNode> ports;
    const std::string typec = root_ + "/class/typec";
    for (const std::string& name : sysfs::list(typec)) {
        if (auto n = typecPortNumber(name)) {
            ports.push_back({name, *n, "USB-C"});
        }
    }
    const auto owners = rootPortOwners(root_);
    std::vector<T::DeviceNode> devices;
    const std::string usbDevices = root_ + "/bus/usb/devices";
    for (const std::string& name : sysfs::list(usbDevices)) {
        auto address = parseUSBDeviceName(name);
        if (!address) {
            continue;
        }
        auto product = sysfs::readText(usbDevices + "/" + name + "/product");
        auto owner = owners.find("usb" + std::to_string(address->bus) + "-port" +
                                 std::to_string(address->ports.front()));
        if (!product || owner == owners.end()) {
            continue;
        }
        devices.push_back({owner->second, *product,
                           hexByte(sysfs::readText(usbDevices + "/" + name + "/bDeviceClass")),
                           usbLocationID(*address)});
    }
    return T::make(ports, devices, inputPort(root_));
}

} // namespace ventoral
