#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <sys/types.h>

namespace ventoral {

// Where the helper lives once installed; every path sits under `prefix` (empty on a real system).
struct InstallLayout {
    std::string prefix;

    std::string daemonBinary() const { return prefix + "/usr/local/libexec/com.tesvane.smchelper"; }
    std::string commandBinary() const { return prefix + "/usr/local/bin/VentoralHelper"; }
    std::string unitFile() const {
        return prefix + "/etc/systemd/system/com.tesvane.smchelper.service";
    }
    std::string policyFile() const {
        return prefix + "/etc/dbus-1/system.d/com.tesvane.smchelper.conf";
    }
    // systemctl, looked up inside the prefix too so tests can put a fake one there.
    std::string systemctl() const;
};

inline constexpr const char* helperUnitName = "com.tesvane.smchelper.service";

// The unit as installed: daemon mode, restarted always, wanted by multi-user.target, hardened.
std::string systemdUnitText();
// Only root may own the helper's name; every user may call its interface.
std::string dbusPolicyText();

struct InstallEnvironment {
    InstallLayout layout;
    std::string sourceExecutable; // this program, from /proc/self/exe
    uid_t effectiveUid;
    pid_t processId;
    std::ostream& err;
    std::ostream& out;
};

// Copies the helper into place set-user-id root, writes the unit and the policy and starts the
// daemon. False, with a message on `err`, at the first failed file step.
bool installHelperFiles(const InstallEnvironment& environment);

} // namespace ventoral
