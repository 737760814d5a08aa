#include "helper/daemon/HelperDaemon.h"

#include "SMCHelperProtocolAdaptor.h"
#include "core/helper/HelperProtocol.h"
#include "core/smc/SMCKeys.h"
#include "helper/daemon/FanCustody.h"
#include "helper/daemon/HelperRequests.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <exception>
#include <pthread.h>
#include <sdbus-c++/sdbus-c++.h>
#include <thread>

namespace ventoral {
namespace {

constexpr const char* loginName = "org.freedesktop.login1";
constexpr const char* loginPath = "/org/freedesktop/login1";
constexpr const char* loginManager = "org.freedesktop.login1.Manager";
constexpr const char* busDaemonName = "org.freedesktop.DBus";

// What the daemon holds beside the interface: who holds which fan, the sleep inhibitor taken
// while any fan is manual, and the ways fans are handed back.
class Guardian {
public:
    Guardian(sdbus::IConnection& connection, DirectSMCOperator& smc)
        : smc_(smc), login_(sdbus::createProxy(connection, loginName, loginPath)),
          busDaemon_(sdbus::createProxy(connection, busDaemonName, "/org/freedesktop/DBus")) {
        busDaemon_->uponSignal("NameOwnerChanged")
            .onInterface(busDaemonName)
            .call([this](const std::string& name, const std::string&, const std::string& owner) {
                if (owner.empty()) {
                    clientLeft(name);
                }
            });
        busDaemon_->finishRegistration();
        login_->uponSignal("PrepareForSleep").onInterface(loginManager).call([this](bool start) {
            if (start) {
                handBackEverything(); // then the inhibitor goes, and sleep may proceed
            }
        });
        login_->finishRegistration();
    }

    FanCustody& custody() { return custody_; }

    void clientLeft(const std::string& client) {
        for (std::int64_t fan : custody_.release(client)) {
            smc_.setFanMode(fan, 0);
        }
        updateInhibitor();
    }

    // Every fan back to automatic when any was held; a no-op otherwise.
    void handBackEverything() {
        if (!custody_.releaseAll().empty()) {
            smc_.resetAllFansToAuto();
        }
        updateInhibitor();
    }

    void updateInhibitor() {
        std::lock_guard guard(inhibitLock_);
        if (!custody_.anyManual()) {
            inhibitor_.reset(); // closing our end lets logind go on
            return;
        }
        if (inhibitor_) {
            return;
        }
        try {
            sdbus::UnixFd fd;
            login_->callMethod("Inhibit")
                .onInterface(loginManager)
                .withArguments(std::string("sleep"), std::string("Ventoral"),
                               std::string("Hand the fans back to automatic control first"),
                               std::string("delay"))
                .storeResultsTo(fd);
            inhibitor_ = std::move(fd);
        } catch (const sdbus::Error&) {
            // No logind (containers, tests): nothing to delay.
        }
    }

private:
    DirectSMCOperator& smc_;
    FanCustody custody_;
    std::unique_ptr<sdbus::IProxy> login_;
    std::unique_ptr<sdbus::IProxy> busDaemon_;
    std::mutex inhibitLock_;
    std::optional<sdbus::UnixFd> inhibitor_;
};

class SMCHelperDelegate final
    : public sdbus::AdaptorInterfaces<com::tesvane::SMCHelperProtocol_adaptor> {
public:
    SMCHelperDelegate(sdbus::IConnection& connection, HelperRequests& requests)
        : AdaptorInterfaces(connection, HelperProtocol::objectPath), requests_(requests) {
        registerAdaptor();
    }
    ~SMCHelperDelegate() { unregisterAdaptor(); }

private:
    using Result = HelperRequests::Result;

    std::string sender() {
        const sdbus::Message* message = getObject().getCurrentlyProcessedMessage();
        return message ? message->getSender() : std::string();
    }

    Result Ping() override { return requests_.ping(); }
    Result SetFanRPM(const int64_t& index, const double& rpm) override {
        return requests_.setFanRPM(index, rpm, sender());
    }
    Result SetFanMode(const int64_t& index, const int64_t& mode) override {
        return requests_.setFanMode(index, mode, sender());
    }
    Result ResetAllFansToAuto() override { return requests_.resetAllFansToAuto(); }
    Result SetLowPowerMode(const bool& enabled) override {
        return requests_.setLowPowerMode(enabled);
    }

    HelperRequests& requests_;
};

// Looks at the CPU package once a second while any fan is manual.
class BackstopWatch {
public:
    BackstopWatch(DirectSMCOperator& smc, Guardian& guardian)
        : thread_([this, &smc, &guardian] { run(smc, guardian); }) {}
    ~BackstopWatch() {
        {
            std::lock_guard guard(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void run(DirectSMCOperator& smc, Guardian& guardian) {
        ThermalBackstop backstop;
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::seconds(1), [&] { return stopping_; })) {
            lock.unlock();
            const bool manual = guardian.custody().anyManual();
            auto celsius = manual ? smc.readNumber(SMCKey::cpuPackage) : std::nullopt;
            double now =
                std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
                    .count();
            if (backstop.sample(manual, celsius, now)) {
                guardian.handBackEverything();
            }
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace

int serveHelperInterface(sdbus::IConnection& connection, DirectSMCOperator& smc,
                         LowPowerModeSetter setLowPowerMode, uid_t effectiveUid) {
    Guardian guardian(connection, smc);
    HelperRequests requests(smc, std::move(setLowPowerMode), effectiveUid, guardian.custody(),
                            [&guardian] { guardian.updateInhibitor(); });
    SMCHelperDelegate delegate(connection, requests);
    std::exception_ptr failure;
    {
        BackstopWatch watch(smc, guardian);
        try {
            connection.enterEventLoop();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    // Stopped, or the bus went away: no fan stays manual behind us.
    guardian.handBackEverything();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return 0;
}

int runHelperDaemon(DirectSMCOperator& smc, LowPowerModeSetter setLowPowerMode, uid_t effectiveUid,
                    std::ostream& err) {
    // Stop requests are taken by one thread, which ends the event loop so the fans can be
    // handed back before exit.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<sdbus::IConnection> connection;
    try {
        connection = sdbus::createSystemBusConnection(HelperProtocol::busName);
    } catch (const sdbus::Error& error) {
        err << "VentoralHelper: cannot serve " << HelperProtocol::busName
            << " on the system bus: " << error.getMessage() << "\n";
        return HelperProtocol::ExitStatus::rejected;
    }
    std::atomic<bool> served{false};
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        if (!served) {
            connection->leaveEventLoop();
        }
    });
    int status = HelperProtocol::ExitStatus::success;
    try {
        status = serveHelperInterface(*connection, smc, std::move(setLowPowerMode), effectiveUid);
    } catch (const sdbus::Error& error) {
        err << "VentoralHelper: the bus connection failed: " << error.getMessage() << "\n";
        status = HelperProtocol::ExitStatus::operationFailed;
    }
    served = true;
    pthread_kill(stopper.native_handle(), SIGTERM); // wake it if the loop ended by itself
    stopper.join();
    return status;
}

} // namespace ventoral
