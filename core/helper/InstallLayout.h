#pragma once

#include <string>

namespace ventoral {

// Where the helper's own install puts its files on a real system.
namespace InstalledPath {
inline constexpr const char* unitName = "com.tesvane.smchelper.service";
inline constexpr const char* daemonBinary = "/usr/local/libexec/com.tesvane.smchelper";
inline constexpr const char* commandBinary = "/usr/local/bin/VentoralHelper";
inline constexpr const char* unitFile = "/etc/systemd/system/com.tesvane.smchelper.service";
inline constexpr const char* busPolicyFile = "/etc/dbus-1/system.d/com.tesvane.smchelper.conf";
inline constexpr const char* polkitActionsFile =
    "/usr/share/polkit-1/actions/com.tesvane.smchelper.policy";
inline constexpr const char* sudo = "/usr/bin/sudo";
inline constexpr const char* pkexec = "/usr/bin/pkexec";
// The daemon's runtime folder (the unit's RuntimeDirectory): what it must remember of the fans.
inline constexpr const char* runtimeFolderName = "ventoral";
inline constexpr const char* runtimeFolder = "/run/ventoral";
// The daemon's state folder (the unit's StateDirectory): what it measured of the fans, kept
// across boots and readable by the application.
inline constexpr const char* stateFolderName = "ventoral";
inline constexpr const char* stateFolder = "/var/lib/ventoral";
inline constexpr const char* fanCalibrationFileName = "fan-calibration.json";
} // namespace InstalledPath

// The installed paths as both programs see them; every path sits under `prefix` (empty on a
// real system, a folder in tests).
struct InstallLayout {
    std::string prefix;

    std::string daemonBinary() const { return prefix + InstalledPath::daemonBinary; }
    std::string commandBinary() const { return prefix + InstalledPath::commandBinary; }
    std::string unitFile() const { return prefix + InstalledPath::unitFile; }
    std::string policyFile() const { return prefix + InstalledPath::busPolicyFile; }
    std::string polkitFile() const { return prefix + InstalledPath::polkitActionsFile; }
    std::string sudo() const { return prefix + InstalledPath::sudo; }
    std::string pkexec() const { return prefix + InstalledPath::pkexec; }
    // systemctl where it is installed, looked up inside the prefix too so tests can put a fake
    // one there.
    std::string systemctl() const;
};

} // namespace ventoral
