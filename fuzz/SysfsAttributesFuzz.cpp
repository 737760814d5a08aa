// The Linux hardware and power layers over a fixture tree whose attribute contents come from
// the input.
#include "core/smc/SMCError.h"
#include "core/smc/SMCService.h"
#include "fuzz/FuzzInput.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/power/PowerProfiles.h"
#include "platform/power/SysfsPowerSourceProvider.h"
#include "platform/power/SysfsUSBTopologyReader.h"
#include "platform/process/ProcfsProcessTable.h"
#include "tests/support/SysfsFixture.h"

#include <sdbus-c++/sdbus-c++.h>

using namespace ventoral;

namespace {

// Every attribute the layers read, on the machines the tests use.
const char* const attributes[] = {
    "devices/platform/thinkpad_hwmon/hwmon/hwmon4/fan1_input",
    "devices/platform/thinkpad_hwmon/hwmon/hwmon4/pwm1",
    "devices/platform/thinkpad_hwmon/hwmon/hwmon4/pwm1_enable",
    "devices/platform/coretemp.0/hwmon/hwmon6/temp1_input",
    "devices/platform/coretemp.0/hwmon/hwmon6/temp1_label",
    "devices/platform/coretemp.0/hwmon/hwmon6/name",
    "devices/platform/applesmc.768/fan1_min",
    "devices/platform/applesmc.768/fan1_max",
    "devices/platform/applesmc.768/fan1_output",
    "devices/platform/applesmc.768/fan1_manual",
    "devices/platform/applesmc.768/fan1_input",
    "class/power_supply/BAT0/status",
    "class/power_supply/BAT0/voltage_now",
    "class/power_supply/BAT0/current_now",
    "class/power_supply/BAT0/power_now",
    "class/power_supply/BAT0/capacity",
    "class/power_supply/BAT0/energy_now",
    "class/power_supply/BAT0/energy_full",
    "class/power_supply/BAT0/charge_full_design",
    "class/power_supply/BAT0/voltage_min_design",
    "class/power_supply/BAT0/cycle_count",
    "class/power_supply/BAT0/health",
    "class/power_supply/BAT0/present",
    "class/power_supply/BAT0/type",
    "class/power_supply/BAT0/scope",
    "class/power_supply/AC/online",
    "class/power_supply/AC/type",
    "class/power_supply/ucsi-source-psy-USBC000:001/online",
    "class/power_supply/ucsi-source-psy-USBC000:001/voltage_now",
    "class/power_supply/ucsi-source-psy-USBC000:001/current_now",
    "class/power_supply/ucsi-source-psy-USBC000:001/voltage_max",
    "class/power_supply/ucsi-source-psy-USBC000:001/current_max",
    "class/power_supply/ucsi-source-psy-USBC000:001/usb_type",
    "class/powercap/intel-rapl:0/energy_uj",
    "class/powercap/intel-rapl:0/max_energy_range_uj",
    "class/powercap/intel-rapl:0/name",
    "bus/usb/devices/3-2.1/product",
    "bus/usb/devices/3-2.1/bDeviceClass",
    "firmware/acpi/platform_profile",
    "firmware/acpi/platform_profile_choices",
};

testing::SysfsFixture& machine() {
    static testing::SysfsFixture* fixture = [] {
        auto* f = new testing::SysfsFixture;
        testing::thinkpadLaptop(*f);
        testing::usbCChargingLaptop(*f);
        f->hwmon(7, "platform/applesmc.768", "applesmc",
                 {{"fan1_input", "2000"},
                  {"fan1_min", "1200"},
                  {"fan1_max", "6200"},
                  {"fan1_output", "2000"},
                  {"fan1_manual", "0"}},
                 true);
        return f;
    }();
    return *fixture;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    auto& f = machine();
    for (int n = in.byte() % 8; n > 0; --n) {
        const char* attribute = in.pick(attributes);
        f.write(attribute, in.text(24));
    }
    const std::string root = f.root();
    {
        SMCService smc(std::make_unique<HwmonSmcTransport>(root, FanControlMemory::folderFor(root)),
                       nullptr, [] { return TimePoint{}; });
        fuzz::allowing<SMCError>([&] { (void)smc.readSnapshot(true, false); });
        fuzz::allowing<SMCError>([&] { (void)smc.readPowerAndBatterySensors(); });
        fuzz::allowing<SMCError>([&] { smc.writeFanMode(in.byte() % 4, FanMode::manual); });
        fuzz::allowing<SMCError>([&] { smc.writeFanTargetRPM(in.byte() % 4, in.raw<float>()); });
        fuzz::allowing<SMCError>([&] { smc.writeFanMode(in.byte() % 4, FanMode::automatic); });
    }
    SysfsPowerSourceProvider sources(root);
    (void)sources.powerSourceDescriptions();
    (void)sources.batteryRegistry();
    (void)sources.externalAdapterDetails();
    (void)SysfsUSBTopologyReader(root).readTopology();
    (void)LowPowerModeFlag(root, [] { return std::unique_ptr<sdbus::IConnection>(); }).isEnabled();
    (void)parseProcStat(in.rest());
    return 0;
}
