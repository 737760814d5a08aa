#pragma once

#include <sys/types.h>

namespace ventoral {

// Whether process `pid` runs in a login session of user `uid` that is active (in front of its
// seat) and local (not over the network), as logind keeps it.
bool isInActiveLocalSession(pid_t pid, uid_t uid);

} // namespace ventoral
