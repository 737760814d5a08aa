#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace sdbus {
class IConnection;
class IObject;
} // namespace sdbus

namespace ventoral::testing {

// A stand-in for power-profiles-daemon: the ActiveProfile property on its bus name, on the
// system bus that DBUS_SYSTEM_BUS_ADDRESS names.
class FakeProfileDaemon {
public:
    enum class Behaviour { obey, refuse, ignore };
    FakeProfileDaemon(const std::string& name, const std::string& path, Behaviour behaviour,
                      std::string initial = "balanced");
    ~FakeProfileDaemon();
    std::string active();
    int sets() const { return sets_; }

private:
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IObject> object_;
    std::string interface_;
    std::mutex lock_;
    std::string active_;
    std::atomic<int> sets_{0};
};

} // namespace ventoral::testing
