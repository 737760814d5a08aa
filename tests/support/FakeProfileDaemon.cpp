#include "tests/support/FakeProfileDaemon.h"

#include <sdbus-c++/sdbus-c++.h>

namespace ventoral::testing {

FakeProfileDaemon::FakeProfileDaemon(const std::string& name, const std::string& path,
                                     Behaviour behaviour, std::string initial)
    : connection_(sdbus::createSystemBusConnection(name)),
      object_(sdbus::createObject(*connection_, path)), interface_(name),
      active_(std::move(initial)) {
    object_->registerProperty("ActiveProfile")
        .onInterface(name)
        .withGetter([this] {
            std::lock_guard guard(lock_);
            return active_;
        })
        .withSetter([this, behaviour](const std::string& wanted) {
            ++sets_;
            if (behaviour == Behaviour::refuse) {
                throw sdbus::Error("org.freedesktop.DBus.Error.AccessDenied", "not allowed");
            }
            if (behaviour == Behaviour::obey) {
                {
                    std::lock_guard guard(lock_);
                    active_ = wanted;
                }
                object_->emitPropertiesChangedSignal(interface_, {"ActiveProfile"});
            }
        });
    object_->finishRegistration();
    connection_->enterEventLoopAsync();
}

FakeProfileDaemon::~FakeProfileDaemon() {
    connection_->leaveEventLoop();
}

std::string FakeProfileDaemon::active() {
    std::lock_guard guard(lock_);
    return active_;
}

} // namespace ventoral::testing
