#include "core/power/USBPortTopologySnapshot.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using T = USBPortTopologySnapshot;

TEST(USBPortTopologySnapshot, PortsAreNumberedByRegistryOrderAndNamedByTheirDevices) {
    std::vector<T::PortNode> ports{{"port1", 3, "USB-C"}, {"port0", 1, "USB-C"}};
    std::vector<T::DeviceNode> devices{
        {"port1", "Hub", 9, 1},           {"port1", "Billboard", 17, 2},
        {"port0", " Keyboard \n", 0, 30}, {"port0", "Mouse", std::nullopt, 10},
        {"port0", "Keyboard", 3, 40},     {"port0", "  ", 0, 50},
        {"elsewhere", "Disk", 8, 5},
    };
    auto topology = T::make(ports, devices, std::nullopt);
    ASSERT_EQ(topology.ports.size(), 2u);
    EXPECT_EQ(topology.ports[0], (T::Port{1, "port0", {"Mouse", "Keyboard"}}));
    EXPECT_EQ(topology.ports[1], (T::Port{2, "port1", {}}));
    EXPECT_EQ(topology.name(1), "Mouse +1");
    EXPECT_EQ(topology.name(2), std::nullopt);
    EXPECT_EQ(topology.name(3), std::nullopt);
    EXPECT_EQ(topology.inputChannel, std::nullopt);
    EXPECT_EQ(topology.inputPortType, std::nullopt);
}

TEST(USBPortTopologySnapshot, NamesAndTheInputPort) {
    T three;
    three.ports = {{1, "p", {"A", "B", "C"}}, {1, "q", {"Z"}}, {2, "r", {"Solo"}}};
    EXPECT_EQ(three.name(1), "A +2"); // the first port with the channel
    EXPECT_EQ(three.name(2), "Solo");

    std::vector<T::PortNode> ports{{"port0", 0, ""}, {"port1", 1, ""}};
    auto usbC = T::make(ports, {}, T::PortNode{"port1", 1, "USB-C PD"});
    EXPECT_EQ(usbC.inputChannel, 2);
    EXPECT_EQ(usbC.inputPortType, "USB-C PD");

    auto magsafe = T::make(ports, {}, T::PortNode{"MagSafe", 0, "MagSafe 3"});
    EXPECT_EQ(magsafe.inputChannel, std::nullopt);
    EXPECT_EQ(magsafe.inputPortType, "MagSafe 3");

    auto untyped = T::make(ports, {}, T::PortNode{"port0", 0, ""});
    EXPECT_EQ(untyped.inputChannel, 1);
    EXPECT_EQ(untyped.inputPortType, std::nullopt);
    EXPECT_EQ(T::make({}, {}, std::nullopt), T::empty());
}

} // namespace
} // namespace ventoral
