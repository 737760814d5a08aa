#include "platform/power/PowerProfileWatcher.h"

#include <map>
#include <sdbus-c++/sdbus-c++.h>

namespace ventoral {

std::unique_ptr<PowerProfileWatcher> PowerProfileWatcher::start(const BusOpener& systemBus,
                                                                std::function<void()> changed) {
    std::unique_ptr<PowerProfileWatcher> watcher(new PowerProfileWatcher);
    watcher->connection_ = systemBus ? systemBus() : nullptr;
    if (!watcher->connection_) {
        return nullptr;
    }
    try {
        for (const auto& service : powerProfilesServices) {
            auto proxy =
                sdbus::createProxy(*watcher->connection_, service.busName, service.objectPath);
            proxy->uponSignal("PropertiesChanged")
                .onInterface("org.freedesktop.DBus.Properties")
                .call([changed](const std::string&, const std::map<std::string, sdbus::Variant>&,
                                const std::vector<std::string>&) { changed(); });
            proxy->finishRegistration();
            watcher->proxies_.push_back(std::move(proxy));
        }
        auto busDaemon = sdbus::createProxy(*watcher->connection_, "org.freedesktop.DBus",
                                            "/org/freedesktop/DBus");
        busDaemon->uponSignal("NameOwnerChanged")
            .onInterface("org.freedesktop.DBus")
            .call([changed](const std::string& name, const std::string&, const std::string&) {
                for (const auto& service : powerProfilesServices) {
                    if (name == service.busName) {
                        changed();
                    }
                }
            });
        busDaemon->finishRegistration();
        watcher->proxies_.push_back(std::move(busDaemon));
        watcher->connection_->enterEventLoopAsync();
    } catch (const sdbus::Error&) {
        return nullptr;
    }
    return watcher;
}

PowerProfileWatcher::~PowerProfileWatcher() {
    if (connection_) {
        connection_->leaveEventLoop();
    }
    proxies_.clear();
}

} // namespace ventoral
