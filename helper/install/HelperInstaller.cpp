#include "helper/install/HelperInstaller.h"

#include "core/helper/HelperProtocol.h"
#include "platform/files/AtomicFile.h"
#include "platform/process/ProcessRunner.h"
#include "platform/sysfs/SysfsFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

namespace fs = std::filesystem;

constexpr const char* installFailed = "Installation failed: ";

bool sameFile(const std::string& a, const std::string& b) {
    auto ra = sysfs::resolve(a);
    auto rb = sysfs::resolve(b);
    return ra && rb && *ra == *rb;
}

} // namespace

std::string systemdUnitText() {
    const std::string daemon = InstalledPath::daemonBinary;
    return std::string(R"([Unit]
Description=Ventoral fan control helper
After=dbus.service
Requires=dbus.service

[Service]
Type=dbus
BusName=)") +
           HelperProtocol::busName + R"(
ExecStart=)" +
           daemon + R"(
ExecStopPost=)" +
           daemon + " " + HelperProtocol::Command::handBack + R"(
Restart=always
RestartSec=2
RuntimeDirectory=)" +
           InstalledPath::runtimeFolderName + R"(
RuntimeDirectoryMode=0700
RuntimeDirectoryPreserve=yes
StateDirectory=)" +
           InstalledPath::stateFolderName + R"(
StateDirectoryMode=0755
ProtectSystem=strict
ReadWritePaths=/sys )" +
           InstalledPath::runtimeFolder + R"(
ProtectHome=yes
PrivateTmp=yes
PrivateDevices=yes
NoNewPrivileges=yes
CapabilityBoundingSet=CAP_DAC_OVERRIDE
IPAddressDeny=any
RestrictAddressFamilies=AF_UNIX
ProtectKernelModules=yes
ProtectControlGroups=yes
ProtectClock=yes
ProtectHostname=yes
LockPersonality=yes
MemoryDenyWriteExecute=yes
RestrictRealtime=yes
RestrictNamespaces=yes
SystemCallArchitectures=native

[Install]
WantedBy=multi-user.target
)";
}

std::string dbusPolicyText() {
    const std::string name = HelperProtocol::busName;
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <policy user="root">
    <allow own=")") +
           name + R"("/>
    <allow send_destination=")" +
           name + R"("/>
  </policy>
  <policy context="default">
    <deny own=")" +
           name + R"("/>
    <allow send_destination=")" +
           name + R"("
           send_interface=")" +
           HelperProtocol::interfaceName + R"("/>
    <allow send_destination=")" +
           name + R"("
           send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination=")" +
           name + R"("
           send_interface="org.freedesktop.DBus.Peer"/>
  </policy>
</busconfig>
)";
}

std::string polkitActionsText() {
    auto action = [](const char* id, const char* description, const char* message) {
        return std::string("  <action id=\"") + id + R"(">
    <description>)" +
               description + R"(</description>
    <message>)" +
               message + R"(</message>
    <defaults>
      <allow_any>auth_admin</allow_any>
      <allow_inactive>auth_admin</allow_inactive>
      <allow_active>yes</allow_active>
    </defaults>
  </action>
)";
    };
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE policyconfig PUBLIC "-//freedesktop//DTD PolicyKit Policy Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/PolicyKit/1/policyconfig.dtd">
<policyconfig>
  <vendor>Ventoral</vendor>
)") +
           action(HelperProtocol::Action::controlFans, "Control the fans",
                  "Authentication is required to set the speed of the fans") +
           action(HelperProtocol::Action::switchPowerProfile, "Switch Low Power Mode",
                  "Authentication is required to switch Low Power Mode") +
           "</policyconfig>\n";
}

bool installHelperFiles(const InstallEnvironment& env) {
    const InstallLayout& layout = env.layout;
    if (env.effectiveUid != 0) {
        env.err << "Error: Helper installation requires root privileges.\n";
        return false;
    }
    const std::string source = sysfs::resolve(env.sourceExecutable).value_or(env.sourceExecutable);

    for (const std::string& file : {layout.daemonBinary(), layout.commandBinary(),
                                    layout.unitFile(), layout.policyFile(), layout.polkitFile()}) {
        std::error_code error;
        fs::create_directories(fs::path(file).parent_path(), error);
        if (error) {
            env.err << installFailed << error.message() << "\n";
            return false;
        }
    }

    for (const std::string& destination : {layout.daemonBinary(), layout.commandBinary()}) {
        if (!sameFile(destination, source)) {
            const std::string temporary = destination + ".tmp." + std::to_string(env.processId);
            std::error_code error;
            fs::remove(temporary, error);
            error.clear();
            fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, error);
            if (!error) {
                fs::rename(temporary, destination, error); // replaces an existing file at once
            }
            if (error) {
                fs::remove(temporary, error);
                env.err << installFailed << error.message() << "\n";
                return false;
            }
        }
        if (::chown(destination.c_str(), 0, 0) != 0) {
            env.err << "Failed to chown root:wheel " << destination << "\n";
            return false;
        }
        if (::chmod(destination.c_str(), 04755) != 0) {
            env.err << "Failed to chmod 4755 " << destination << "\n";
            return false;
        }
    }

    for (const auto& [path, text] : {std::pair{layout.unitFile(), systemdUnitText()},
                                     std::pair{layout.policyFile(), dbusPolicyText()},
                                     std::pair{layout.polkitFile(), polkitActionsText()}}) {
        std::string error;
        if (!writeFileAtomically(path, text, 0644, &error)) {
            env.err << installFailed << error << "\n";
            return false;
        }
        (void)::chown(path.c_str(), 0, 0);
    }

    const std::string systemctl = layout.systemctl();
    auto reload = runProgram(systemctl, {"daemon-reload"}, ProcessOutput::discard);
    if (!reload.started) {
        env.err << "systemctl could not be started (" << systemctl
                << "): the daemon was not started; the helper command works without it.\n";
    } else {
        auto enable = runProgram(systemctl, {"enable", "--now", InstalledPath::unitName},
                                 ProcessOutput::inherit);
        if (!enable.succeeded()) {
            auto restart =
                runProgram(systemctl, {"restart", InstalledPath::unitName}, ProcessOutput::inherit);
            if (!restart.succeeded()) {
                env.err << "systemctl could not start " << InstalledPath::unitName
                        << "; the helper command works without it.\n";
            }
        }
    }
    env.out << "VentoralHelper installed successfully to " << layout.daemonBinary()
            << " with setuid root.\n";
    return true;
}

} // namespace ventoral
