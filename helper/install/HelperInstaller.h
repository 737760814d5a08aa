#pragma once

#include "core/helper/InstallLayout.h"

#include <functional>
#include <ostream>
#include <string>
#include <sys/types.h>

namespace ventoral {

// The unit as installed: daemon mode, restarted always, wanted by multi-user.target, hardened.
std::string systemdUnitText();
// Only root may own the helper's name; every user may call its interface.
std::string dbusPolicyText();
// The polkit actions the daemon asks about: an active local session may, anyone else after an
// administrator's password.
std::string polkitActionsText();

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
