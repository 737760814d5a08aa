#include "helper/daemon/HelperDaemon.h"

#include "SMCHelperProtocolAdaptor.h"
#include "core/helper/HelperProtocol.h"
#include "core/smc/SMCKeys.h"
#include "helper/daemon/CallerCheck.h"
#include "helper/daemon/FanCalibrations.h"
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
    Guardian(sdbus::IConnection& connection, DirectSMCOperator& smc, ThermalHold& hold,
             CallerCheck& callers, FanCalibrations& calibrations, std::ostream& log)
        : smc_(smc), hold_(hold), callers_(callers), calibrations_(calibrations), log_(log),
          login_(sdbus::createProxy(connection, loginName, loginPath)),
          busDaemon_(sdbus::createProxy(connection, busDaemonName, "/org/freedesktop/DBus")) {
        busDaemon_->uponSignal("NameOwnerChanged")
            .onInterface(busDaemonName)
            .call([this](const std::string& name, const std::string&, const std::string& owner) {
                if (name == loginName && !owner.empty()) {
                    loginArrived();
                } else if (owner.empty()) {
                    clientLeft(name);
                }
            });
        busDaemon_->finishRegistration();
        login_->uponSignal("PrepareForSleep").onInterface(loginManager).call([this](bool start) {
            if (start) {
                handBackEverything("before sleep"); // then the inhibitor goes, and sleep proceeds
            }
        });
        login_->finishRegistration();
    }

    FanCustody& custody() { return custody_; }

    void clientLeft(const std::string& client) {
        callers_.forget(client);
        const auto held = custody_.release(client);
        if (!held.empty()) {
            report(smc_.handBackFans(held, false), "its client " + client + " left");
        }
        updateInhibitor();
    }

    // Every fan this program took over goes back as it was; the fans it holds for clients
    // where the controller remembers nothing. Returns the fans handed back.
    std::vector<std::int64_t> handBackEverything(const std::string& reason) {
        calibrations_.cancel(); // a fan being measured goes back by itself
        auto handedBack = smc_.handBackFans(custody_.releaseAll(), true);
        report(handedBack, reason);
        updateInhibitor();
        return handedBack;
    }

    // The backstop: everything back, and kept there until the CPU has cooled.
    void thermalHandBack() { hold_.hold(handBackEverything("the CPU stayed at or above 95 C")); }

    // `rememberRefusal`: a refusal stops the asking until the hold ends or logind appears.
    void updateInhibitor(bool rememberRefusal = true) {
        std::lock_guard guard(inhibitLock_);
        if (!custody_.anyManual()) {
            inhibitor_.reset(); // closing our end lets logind go on
            inhibitRefused_ = false;
            return;
        }
        // Asked once per hold: without logind every write would otherwise wait for a refusal.
        if (inhibitor_ || inhibitRefused_) {
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
            // No logind (containers, tests): nothing to delay, until it appears.
            inhibitRefused_ = rememberRefusal;
        }
    }

    // Its name may come before its objects: a refusal now leaves the next write to ask.
    void loginArrived() {
        {
            std::lock_guard guard(inhibitLock_);
            inhibitRefused_ = false;
        }
        updateInhibitor(false);
    }

private:
    void report(const std::vector<std::int64_t>& fans, const std::string& reason) {
        for (std::int64_t fan : fans) {
            log_ << "VentoralHelper: handed fan " << fan << " back: " << reason << "\n";
        }
        for (const std::string& notice : smc_.takeNotices()) {
            log_ << "VentoralHelper: " << notice << "\n";
        }
        log_.flush();
    }

    DirectSMCOperator& smc_;
    ThermalHold& hold_;
    CallerCheck& callers_;
    FanCalibrations& calibrations_;
    std::ostream& log_;
    FanCustody custody_;
    std::unique_ptr<sdbus::IProxy> login_;
    std::unique_ptr<sdbus::IProxy> busDaemon_;
    std::mutex inhibitLock_;
    std::optional<sdbus::UnixFd> inhibitor_;
    bool inhibitRefused_ = false;
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
        return requests_.setLowPowerMode(enabled, sender());
    }
    Result Calibrate(const int64_t& index) override { return requests_.calibrate(index, sender()); }

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
                guardian.thermalHandBack();
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
                         LowPowerModeSetter setLowPowerMode, uid_t effectiveUid, ThermalHold& hold,
                         std::ostream& log) {
    CallerCheck callers(connection, log);
    // Told from the measuring thread; the signals go out once the interface is served.
    std::atomic<SMCHelperDelegate*> announcer{nullptr};
    std::mutex logLock;
    FanCalibrations calibrations(
        smc,
        [&announcer](std::int64_t index, double fraction, const std::string& message) {
            if (auto* delegate = announcer.load()) {
                try {
                    delegate->emitCalibrationProgress(index, fraction, message);
                } catch (const sdbus::Error&) {
                    // Nobody hears it now; the measurement goes on and its fan goes back.
                }
            }
        },
        [&](std::int64_t index, bool succeeded, const std::string& message) {
            {
                std::lock_guard guard(logLock);
                log << "VentoralHelper: calibration of fan " << index << " "
                    << (succeeded ? "done: " : "failed: ") << message << "\n";
                log.flush();
            }
            if (auto* delegate = announcer.load()) {
                try {
                    delegate->emitCalibrationFinished(index, succeeded, message);
                } catch (const sdbus::Error&) {
                }
            }
        });
    Guardian guardian(connection, smc, hold, callers, calibrations, log);
    HelperRequests requests(
        smc, std::move(setLowPowerMode), effectiveUid, guardian.custody(),
        [&guardian] { guardian.updateInhibitor(); }, hold,
        [&callers](const std::string& sender, const char* action) {
            return callers.allowed(sender, action);
        },
        log, &calibrations);
    SMCHelperDelegate delegate(connection, requests);
    announcer = &delegate;
    std::exception_ptr failure;
    {
        BackstopWatch watch(smc, guardian);
        try {
            connection.enterEventLoop();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    calibrations.cancelAndWait(); // its end is still told
    announcer = nullptr;
    // Stopped, or the bus went away: no fan stays manual behind us.
    guardian.handBackEverything("the daemon stopped");
    if (failure) {
        std::rethrow_exception(failure);
    }
    return 0;
}

int runHelperDaemon(DirectSMCOperator& smc, LowPowerModeSetter setLowPowerMode, uid_t effectiveUid,
                    ThermalHold& hold, std::ostream& err) {
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
        status = serveHelperInterface(*connection, smc, std::move(setLowPowerMode), effectiveUid,
                                      hold, err);
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
