#include "helper/daemon/CallerCheck.h"

#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {
namespace {

constexpr const char* busDaemonName = "org.freedesktop.DBus";
constexpr const char* polkitName = "org.freedesktop.PolicyKit1";
constexpr const char* polkitPath = "/org/freedesktop/PolicyKit1/Authority";
constexpr const char* polkitAuthority = "org.freedesktop.PolicyKit1.Authority";
// A prompt in the caller's session may take a while to be answered.
constexpr std::uint32_t allowUserInteraction = 1;
constexpr auto promptTimeout = std::chrono::seconds(60);

} // namespace

CallerCheck::CallerCheck(sdbus::IConnection& connection, std::ostream& log)
    : busDaemon_(sdbus::createProxy(connection, busDaemonName, "/org/freedesktop/DBus")),
      polkit_(sdbus::createProxy(connection, polkitName, polkitPath)), log_(log) {
    busDaemon_->finishRegistration();
    polkit_->finishRegistration();
}

CallerCheck::~CallerCheck() = default;

bool CallerCheck::allowed(const std::string& sender, const char* action) {
    const auto key = std::make_pair(sender, std::string(action));
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard guard(lock_);
        if (auto it = answers_.find(key);
            it != answers_.end() && (it->second.allowed || now - it->second.at < refusalLifetime)) {
            return it->second.allowed;
        }
    }
    const bool answer = ask(sender, action);
    if (!answer) {
        log_ << "VentoralHelper: refused " << action << " to " << sender << "\n";
        log_.flush();
    }
    std::lock_guard guard(lock_);
    answers_[key] = {answer, now};
    return answer;
}

bool CallerCheck::ask(const std::string& sender, const char* action) {
    try {
        std::uint32_t uid = 0;
        busDaemon_->callMethod("GetConnectionUnixUser")
            .onInterface(busDaemonName)
            .withArguments(sender)
            .storeResultsTo(uid);
        if (uid == 0) {
            return true;
        }
    } catch (const sdbus::Error&) {
        return false; // a client that is already gone may do nothing
    }
    try {
        const sdbus::Struct<std::string, std::map<std::string, sdbus::Variant>> subject{
            "system-bus-name", {{"name", sdbus::Variant(sender)}}};
        sdbus::Struct<bool, bool, std::map<std::string, std::string>> result;
        polkit_->callMethod("CheckAuthorization")
            .onInterface(polkitAuthority)
            .withTimeout(promptTimeout)
            .withArguments(subject, std::string(action), std::map<std::string, std::string>{},
                           allowUserInteraction, std::string())
            .storeResultsTo(result);
        return std::get<0>(result);
    } catch (const sdbus::Error& error) {
        log_ << "VentoralHelper: polkit could not be asked (" << error.getName()
             << "); only root may control the fans\n";
        return false;
    }
}

void CallerCheck::forget(const std::string& sender) {
    std::lock_guard guard(lock_);
    for (auto it = answers_.begin(); it != answers_.end();) {
        it = it->first.first == sender ? answers_.erase(it) : std::next(it);
    }
}

} // namespace ventoral
