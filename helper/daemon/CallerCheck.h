#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

namespace sdbus {
class IConnection;
class IProxy;
} // namespace sdbus

namespace ventoral {

// Whether a bus client may do what it asks, as polkit decides for the client's connection
// (root always may). An answer is kept for the connection until it leaves the bus, so a steady
// stream of writes costs one check; a refusal is asked again after a while, in case the user
// has since authenticated. Without polkit on the bus, only root may.
class CallerCheck {
public:
    CallerCheck(sdbus::IConnection& connection, std::ostream& log);
    ~CallerCheck();
    CallerCheck(const CallerCheck&) = delete;
    CallerCheck& operator=(const CallerCheck&) = delete;

    bool allowed(const std::string& sender, const char* action);
    void forget(const std::string& sender);

private:
    bool ask(const std::string& sender, const char* action);

    struct Answer {
        bool allowed = false;
        std::chrono::steady_clock::time_point at;
    };
    static constexpr std::chrono::seconds refusalLifetime{10};

    std::unique_ptr<sdbus::IProxy> busDaemon_;
    std::unique_ptr<sdbus::IProxy> polkit_;
    std::ostream& log_;
    std::mutex lock_;
    std::map<std::pair<std::string, std::string>, Answer> answers_;
};

} // namespace ventoral
