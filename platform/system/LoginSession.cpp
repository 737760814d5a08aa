#include "platform/system/LoginSession.h"

#include <cstdlib>
#include <systemd/sd-login.h>

namespace ventoral {

bool isInActiveLocalSession(pid_t pid, uid_t uid) {
    char* session = nullptr;
    if (sd_pid_get_session(pid, &session) < 0 || !session) {
        return false;
    }
    uid_t owner = 0;
    const bool active = sd_session_is_active(session) > 0 && sd_session_is_remote(session) == 0 &&
                        sd_session_get_uid(session, &owner) >= 0 && owner == uid;
    std::free(session);
    return active;
}

} // namespace ventoral
