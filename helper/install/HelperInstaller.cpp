#include "helper/install/HelperInstaller.h"

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

// Writes `text` to `path` through a temporary file in the same folder and a rename.
bool writeAtomically(const std::string& path, const std::string& text, std::string& error) {
    std::string temporary = path + ".tmp." + std::to_string(getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
              ::fsync(fd) == 0;
    int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(ok ? errno : saved);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    auto ra = sysfs::resolve(a);
    auto rb = sysfs::resolve(b);
    return ra && rb && *ra == *rb;
}

} // namespace

std::string InstallLayout::systemctl() const {
    for (const char* candidate : {"/usr/bin/systemctl", "/bin/systemctl"}) {
        std::string path = prefix + candidate;
        if (::access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return prefix + "/usr/bin/systemctl";
}

std::string systemdUnitText() {
    return R"([Unit]
Description=Ventoral fan control helper
After=dbus.service
Requires=dbus.service

[Service]
Type=dbus
BusName=com.tesvane.smchelper
ExecStart=/usr/local/libexec/com.tesvane.smchelper
ExecStopPost=/usr/local/libexec/com.tesvane.smchelper reset-auto
Restart=always
RestartSec=2
RuntimeDirectory=ventoral
RuntimeDirectoryMode=0700
RuntimeDirectoryPreserve=yes
ProtectSystem=strict
ReadWritePaths=/sys /run/ventoral
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
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <policy user="root">
    <allow own="com.tesvane.smchelper"/>
    <allow send_destination="com.tesvane.smchelper"/>
  </policy>
  <policy context="default">
    <deny own="com.tesvane.smchelper"/>
    <allow send_destination="com.tesvane.smchelper"
           send_interface="com.tesvane.SMCHelperProtocol"/>
    <allow send_destination="com.tesvane.smchelper"
           send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="com.tesvane.smchelper"
           send_interface="org.freedesktop.DBus.Peer"/>
  </policy>
</busconfig>
)";
}

bool installHelperFiles(const InstallEnvironment& env) {
    const InstallLayout& layout = env.layout;
    if (env.effectiveUid != 0) {
        env.err << "Error: Helper installation requires root privileges.\n";
        return false;
    }
    const std::string source = sysfs::resolve(env.sourceExecutable).value_or(env.sourceExecutable);

    for (const std::string& file :
         {layout.daemonBinary(), layout.commandBinary(), layout.unitFile(), layout.policyFile()}) {
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
                                     std::pair{layout.policyFile(), dbusPolicyText()}}) {
        std::string error;
        if (!writeAtomically(path, text, error)) {
            env.err << installFailed << error << "\n";
            return false;
        }
        (void)::chown(path.c_str(), 0, 0);
        (void)::chmod(path.c_str(), 0644);
    }

    const std::string systemctl = layout.systemctl();
    auto reload = runProgram(systemctl, {"daemon-reload"}, ProcessOutput::discard);
    if (!reload.started) {
        env.err << "systemctl could not be started (" << systemctl
                << "): the daemon was not started; the helper command works without it.\n";
    } else {
        auto enable =
            runProgram(systemctl, {"enable", "--now", helperUnitName}, ProcessOutput::inherit);
        if (!enable.succeeded()) {
            auto restart =
                runProgram(systemctl, {"restart", helperUnitName}, ProcessOutput::inherit);
            if (!restart.succeeded()) {
                env.err << "systemctl could not start " << helperUnitName
                        << "; the helper command works without it.\n";
            }
        }
    }
    env.out << "VentoralHelper installed successfully to " << layout.daemonBinary()
            << " with setuid root.\n";
    return true;
}

} // namespace ventoral
