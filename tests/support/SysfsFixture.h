#pragma once

#include <map>
#include <string>

namespace ventoral::testing {

using Attributes = std::map<std::string, std::string>;

// A private sysfs tree shaped like the kernel's: devices under devices/, class entries as links.
class SysfsFixture {
public:
    SysfsFixture();
    // A tree at a fixed folder (emptied first), for programs whose root is fixed at build time;
    // it waits while another test holds the same folder.
    explicit SysfsFixture(std::string root);
    ~SysfsFixture();
    SysfsFixture(const SysfsFixture&) = delete;
    SysfsFixture& operator=(const SysfsFixture&) = delete;

    const std::string& root() const { return root_; }

    // A hwmon chip of the device at `devicePath` (below devices/), reached as class/hwmon/hwmonN.
    // With `onDevice` the attributes sit in the device folder, as older drivers put them.
    void hwmon(int number, const std::string& devicePath, const std::string& name,
               const Attributes& attributes, bool onDevice = false);
    void powerSupply(const std::string& name, const Attributes& attributes);
    void powercap(const std::string& entry, const Attributes& attributes);

    void write(const std::string& relativePath, const std::string& text);
    // A symbolic link at `relativePath` holding `target` as written.
    void link(const std::string& relativePath, const std::string& target);
    std::string read(const std::string& relativePath) const;
    bool exists(const std::string& relativePath) const;
    void remove(const std::string& relativePath);

private:
    void writeAll(const std::string& folder, const Attributes& attributes);
    std::string root_;
    int lockFd_ = -1;
};

// Machines used across the suites.
void thinkpadLaptop(SysfsFixture& fixture);
void nct6775Desktop(SysfsFixture& fixture);
// The same board with its hwmon folders numbered from `firstHwmon`, as after another boot.
void nct6775DesktopNumbered(SysfsFixture& fixture, int firstHwmon);
void applesmcLaptop(SysfsFixture& fixture);
void fanlessMachine(SysfsFixture& fixture);
// A desktop whose user tuned the fans by hand: fan 0 a closed-loop controller steered by its
// target alone (3000 RPM); fans 1-3 a board left at automatic modes 2 and 3 and at manual duty
// 60; fan 4 a pwm-fan chip, where 0 would switch the fan off, at mode 2 and duty 100.
void userTunedDesk(SysfsFixture& fixture);
// A laptop charging through a USB Power Delivery adapter on its first USB-C port, with a phone
// behind a hub on the second; two Type-C ports, charge_* battery attributes.
void usbCChargingLaptop(SysfsFixture& fixture);
// A laptop on a mains adapter with a full battery that reports energy_* attributes.
void fullOnPowerLaptop(SysfsFixture& fixture);

} // namespace ventoral::testing
