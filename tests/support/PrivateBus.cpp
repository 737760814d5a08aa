#include "tests/support/PrivateBus.h"

#include <fstream>

namespace ventoral::testing {

PrivateBus::PrivateBus() {
    const std::string socket = folder_.path() + "/system_bus_socket";
    const std::string config = folder_.path() + "/bus.conf";
    std::ofstream(config)
        << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)"
        << socket << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";
    // The socket file appears at bind(), before the daemon listens; the address is printed once
    // it does.
    daemon_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"/usr/bin/dbus-daemon", "--config-file=" + config, "--nofork",
                                 "--nopidfile", "--print-address=1"});
    auto printed = [&] {
        const std::string text = daemon_->output();
        const auto end = text.find('\n');
        return end == std::string::npos ? std::string() : text.substr(0, end);
    };
    waitUntil([&] { return !printed().empty() || !daemon_->isRunning(); }, 20);
    const std::string listening = printed();
    up_ = !listening.empty();
    // Never empty: an empty DBUS_SYSTEM_BUS_ADDRESS would send a child to the real system bus.
    address_ = up_ ? listening : "unix:path=" + socket;
}

std::unique_ptr<BackgroundProcess>
PrivateBus::startHelperDaemon(const std::string& helperPath, const std::string& sysfsRoot) const {
    auto daemon = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{helperPath},
        EnvironmentChanges{{"DBUS_SYSTEM_BUS_ADDRESS", address_},
                           {"VENTORAL_SYSFS_ROOT", sysfsRoot},
                           {"VENTORAL_SMC_PROFILE", ""}});
    const bool serving = waitUntil(
        [&] {
            return runCommand({"/usr/bin/busctl", "--address=" + address_, "status",
                               "com.tesvane.smchelper"})
                       .exitStatus == 0;
        },
        10);
    return serving ? std::move(daemon) : nullptr;
}

namespace {

const char* const polkitName = "org.freedesktop.PolicyKit1";
const char* const polkitPath = "/org/freedesktop/PolicyKit1/Authority";

} // namespace

std::unique_ptr<BackgroundProcess>
PrivateBus::startPolkit(const std::vector<std::string>& allowed) const {
    auto polkit = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--system", "--template",
                                 "polkitd"},
        EnvironmentChanges{{"DBUS_SYSTEM_BUS_ADDRESS", address_}});
    const bool serving = waitUntil(
        [&] {
            return runCommand({"/usr/bin/busctl", "--address=" + address_, "status", polkitName})
                       .exitStatus == 0;
        },
        15);
    if (!serving) {
        return nullptr;
    }
    std::vector<std::string> call{"/usr/bin/busctl",
                                  "--address=" + address_,
                                  "call",
                                  polkitName,
                                  polkitPath,
                                  "org.freedesktop.DBus.Mock",
                                  "SetAllowed",
                                  "as",
                                  std::to_string(allowed.size())};
    call.insert(call.end(), allowed.begin(), allowed.end());
    return runCommand(call).exitStatus == 0 ? std::move(polkit) : nullptr;
}

int PrivateBus::polkitChecks() const {
    auto calls = runCommand({"/usr/bin/busctl", "--address=" + address_, "call", polkitName,
                             polkitPath, "org.freedesktop.DBus.Mock", "GetCalls"});
    int count = 0;
    for (auto at = calls.out.find("\"CheckAuthorization\""); at != std::string::npos;
         at = calls.out.find("\"CheckAuthorization\"", at + 1)) {
        ++count;
    }
    return count;
}

} // namespace ventoral::testing
