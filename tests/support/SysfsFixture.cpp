#include "tests/support/SysfsFixture.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

namespace ventoral::testing {

namespace fs = std::filesystem;

namespace {

std::string scratchRoot() {
    static std::atomic<int> counter{0};
    return (fs::temp_directory_path() /
            ("ventoral-sysfs-" + std::to_string(getpid()) + "-" + std::to_string(counter++)))
        .string();
}

} // namespace

SysfsFixture::SysfsFixture() : SysfsFixture(scratchRoot()) {}

SysfsFixture::SysfsFixture(std::string root) : root_(std::move(root)) {
    // A fixed folder is shared by every test that uses it; tests run in parallel processes, so
    // each holds it alone for its whole life.
    fs::create_directories(fs::path(root_).parent_path());
    lockFd_ = ::open((root_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ >= 0) {
        while (::flock(lockFd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    fs::remove_all(root_);
    fs::create_directories(root_ + "/class/hwmon");
    fs::create_directories(root_ + "/class/power_supply");
    fs::create_directories(root_ + "/class/powercap");
}

SysfsFixture::~SysfsFixture() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    if (lockFd_ >= 0) {
        ::close(lockFd_); // and with it the lock
    }
}

void SysfsFixture::writeAll(const std::string& folder, const Attributes& attributes) {
    fs::create_directories(folder);
    for (const auto& [name, value] : attributes) {
        std::ofstream(folder + "/" + name) << value << "\n";
    }
}

void SysfsFixture::hwmon(int number, const std::string& devicePath, const std::string& name,
                         const Attributes& attributes, bool onDevice) {
    const std::string device = root_ + "/devices/" + devicePath;
    const std::string hwmonName = "hwmon" + std::to_string(number);
    const std::string folder = device + "/hwmon/" + hwmonName;
    fs::create_directories(folder);
    fs::create_directory_symlink("../../../" + fs::path(devicePath).filename().string(),
                                 folder + "/device");
    if (onDevice) {
        writeAll(device, attributes);
        std::ofstream(device + "/name") << name << "\n";
    } else {
        writeAll(folder, attributes);
        std::ofstream(folder + "/name") << name << "\n";
    }
    fs::create_directory_symlink(fs::relative(folder, root_ + "/class/hwmon"),
                                 root_ + "/class/hwmon/" + hwmonName);
}

void SysfsFixture::powerSupply(const std::string& name, const Attributes& attributes) {
    writeAll(root_ + "/class/power_supply/" + name, attributes);
}

void SysfsFixture::powercap(const std::string& entry, const Attributes& attributes) {
    writeAll(root_ + "/class/powercap/" + entry, attributes);
}

void SysfsFixture::write(const std::string& relativePath, const std::string& text) {
    fs::create_directories(fs::path(root_ + "/" + relativePath).parent_path());
    std::ofstream(root_ + "/" + relativePath) << text << "\n";
}

void SysfsFixture::link(const std::string& relativePath, const std::string& target) {
    const fs::path at = root_ + "/" + relativePath;
    fs::create_directories(at.parent_path());
    fs::create_symlink(target, at);
}

std::string SysfsFixture::read(const std::string& relativePath) const {
    std::ifstream file(root_ + "/" + relativePath);
    std::stringstream text;
    text << file.rdbuf();
    std::string s = text.str();
    while (!s.empty() && s.back() == '\n') {
        s.pop_back();
    }
    return s;
}

bool SysfsFixture::exists(const std::string& relativePath) const {
    return fs::exists(root_ + "/" + relativePath);
}

void SysfsFixture::remove(const std::string& relativePath) {
    fs::remove_all(root_ + "/" + relativePath);
}

void thinkpadLaptop(SysfsFixture& f) {
    f.hwmon(4, "platform/thinkpad_hwmon", "thinkpad",
            {{"fan1_input", "2900"}, {"pwm1", "128"}, {"pwm1_enable", "2"}});
    f.hwmon(6, "platform/coretemp.0", "coretemp",
            {{"temp1_input", "52000"},
             {"temp1_label", "Package id 0"},
             {"temp2_input", "50000"},
             {"temp2_label", "Core 0"}});
    f.hwmon(1, "LNXSYSTM:00/LNXSYBUS:00/PNP0C0A:00/power_supply/BAT0", "BAT0",
            {{"temp1_input", "31500"}});
    f.powerSupply("AC", {{"type", "Mains"}, {"online", "0"}});
    f.powerSupply("BAT0", {{"type", "Battery"},
                           {"status", "Discharging"},
                           {"voltage_now", "12100000"},
                           {"current_now", "1500000"},
                           {"capacity", "81"},
                           {"energy_now", "40000000"},
                           {"energy_full", "50000000"},
                           {"power_now", "18150000"}});
    f.powercap(
        "intel-rapl:0",
        {{"name", "package-0"}, {"energy_uj", "1000000"}, {"max_energy_range_uj", "262143328850"}});
    f.powercap("intel-rapl:0:0", {{"name", "core"}, {"energy_uj", "500000"}});
}

void nct6775Desktop(SysfsFixture& f) {
    nct6775DesktopNumbered(f, 0);
}

void nct6775DesktopNumbered(SysfsFixture& f, int firstHwmon) {
    Attributes board{{"temp1_input", "34000"},
                     {"temp1_label", "SYSTIN"},
                     {"temp2_input", "41000"},
                     {"temp2_label", "CPUTIN"}};
    for (int n = 1; n <= 3; ++n) {
        const std::string i = std::to_string(n);
        board["fan" + i + "_input"] = std::to_string(800 + 100 * n);
        board["fan" + i + "_min"] = "0";
        board["pwm" + i] = std::to_string(90 + n);
        board["pwm" + i + "_enable"] = "5";
    }
    f.hwmon(firstHwmon + 2, "platform/nct6775.656", "nct6775", board);
    f.hwmon(firstHwmon + 0, "pci0000:00/0000:00:18.3", "k10temp",
            {{"temp1_input", "48250"}, {"temp1_label", "Tctl"}});
    f.hwmon(firstHwmon + 1, "pci0000:00/0000:00:01.1/0000:03:00.0", "amdgpu",
            {{"temp1_input", "45000"},
             {"temp1_label", "edge"},
             {"temp2_input", "52000"},
             {"temp2_label", "junction"},
             {"fan1_input", "1100"},
             {"fan1_min", "0"},
             {"fan1_max", "3300"},
             {"fan1_target", "1100"},
             {"pwm1", "80"},
             {"pwm1_enable", "2"}});
    f.hwmon(firstHwmon + 3, "pci0000:00/0000:00:02.1/0000:04:00.0/nvme/nvme0", "nvme",
            {{"temp1_input", "38850"}, {"temp1_label", "Composite"}});
}

void applesmcLaptop(SysfsFixture& f) {
    Attributes smc{{"temp1_input", "51000"}, {"temp1_label", "TC0P"}};
    const char* labels[] = {"Left side", "Right side"};
    for (int n = 1; n <= 2; ++n) {
        const std::string i = std::to_string(n);
        smc["fan" + i + "_input"] = std::to_string(1990 + n * 10);
        smc["fan" + i + "_min"] = "1200";
        smc["fan" + i + "_max"] = "6200";
        smc["fan" + i + "_output"] = "2000";
        smc["fan" + i + "_manual"] = "0";
        smc["fan" + i + "_label"] = labels[n - 1];
    }
    f.hwmon(0, "platform/applesmc.768", "applesmc", smc, true);
    f.hwmon(1, "platform/coretemp.0", "coretemp",
            {{"temp1_input", "53000"}, {"temp1_label", "Package id 0"}});
}

void userTunedDesk(SysfsFixture& f) {
    f.hwmon(7, "i2c-0/0-001b", "max6650", {{"fan1_input", "2900"}, {"fan1_target", "3000"}});
    f.hwmon(2, "platform/nct6775.656", "nct6775",
            {{"fan1_input", "900"},
             {"pwm1", "120"},
             {"pwm1_enable", "2"},
             {"fan2_input", "950"},
             {"pwm2", "80"},
             {"pwm2_enable", "3"},
             {"fan3_input", "700"},
             {"pwm3", "60"},
             {"pwm3_enable", "1"}});
    f.hwmon(5, "platform/pwm-fan", "pwmfan",
            {{"fan1_input", "1500"}, {"pwm1", "100"}, {"pwm1_enable", "2"}});
    f.hwmon(0, "pci0000:00/0000:00:18.3", "k10temp",
            {{"temp1_input", "48250"}, {"temp1_label", "Tctl"}});
}

void fanlessMachine(SysfsFixture& f) {
    f.hwmon(0, "platform/soc/cpu_thermal", "cpu_thermal", {{"temp1_input", "47000"}});
}

void usbCChargingLaptop(SysfsFixture& f) {
    f.hwmon(3, "platform/coretemp.0", "coretemp",
            {{"temp1_input", "61000"}, {"temp1_label", "Package id 0"}});
    f.powerSupply("ADP1", {{"type", "Mains"}, {"online", "1"}});
    f.powerSupply("BAT0", {{"type", "Battery"},
                           {"status", "Charging"},
                           {"present", "1"},
                           {"voltage_now", "16800000"},
                           {"current_now", "1800000"},
                           {"capacity", "55"},
                           {"charge_now", "2750000"},
                           {"charge_full", "5000000"},
                           {"charge_full_design", "5200000"},
                           {"cycle_count", "87"},
                           {"health", "Good"}});
    f.powerSupply("ucsi-source-psy-USBC000:001", {{"type", "USB"},
                                                  {"online", "1"},
                                                  {"voltage_now", "20000000"},
                                                  {"current_now", "2250000"},
                                                  {"voltage_max", "20000000"},
                                                  {"current_max", "3250000"},
                                                  {"usb_type", "C [PD] PD_PPS"}});
    f.powerSupply("ucsi-source-psy-USBC000:002", {{"type", "USB"},
                                                  {"online", "0"},
                                                  {"voltage_now", "5000000"},
                                                  {"current_now", "0"},
                                                  {"usb_type", "[C] PD PD_PPS"}});
    f.write("class/typec/port0/data_role", "host [device]");
    f.write("class/typec/port1/data_role", "[host] device");
    // Port 1 names its USB 3 root port; port 0 is found through the root port's connector link.
    f.link("class/typec/port1/usb3-port2", "../../../bus/usb/devices/usb3/3-0:1.0/usb3-port2");
    f.write("bus/usb/devices/usb3/3-0:1.0/usb3-port2/state", "configured");
    f.link("bus/usb/devices/usb1/1-0:1.0/usb1-port1/connector",
           "../../../../../../class/typec/port0");
    auto device = [&](const std::string& name, const std::string& product, const char* cls) {
        f.write("bus/usb/devices/" + name + "/product", product);
        f.write("bus/usb/devices/" + name + "/bDeviceClass", cls);
    };
    device("3-2", "USB3.0 Hub", "09");
    device("3-2.3", "Pixel 7 ", "00");
    device("3-2.1", "Pixel 7", "00");
    f.write("bus/usb/devices/3-2:1.0/bInterfaceClass", "09");
    device("1-1", "YubiKey", "00");
    device("1-3", "Integrated Camera", "ef"); // wired to no Type-C port
}

void fullOnPowerLaptop(SysfsFixture& f) {
    f.powerSupply("AC", {{"type", "Mains"}, {"online", "1"}});
    f.powerSupply("BAT1", {{"type", "Battery"},
                           {"status", "Full"},
                           {"present", "1"},
                           {"voltage_now", "12900000"},
                           {"power_now", "0"},
                           {"capacity", "100"},
                           {"energy_now", "51300000"},
                           {"energy_full", "51300000"},
                           {"energy_full_design", "57000000"},
                           {"voltage_min_design", "11400000"},
                           {"health", "Calibration required"}});
}

} // namespace ventoral::testing
