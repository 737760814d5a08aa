#include "application/privileged/PrivilegedSMCWriter.h"

#include "core/helper/HelperProtocol.h"
#include "helper/dbus/SMCHelperClient.h"

#include <condition_variable>
#include <unistd.h>

namespace ventoral {

namespace Text = PrivilegedWriterText;
namespace Cmd = HelperProtocol::Command;

std::shared_ptr<PrivilegedSMCWriter> PrivilegedSMCWriter::make(PrivilegedWriterPlatform platform) {
    return std::shared_ptr<PrivilegedSMCWriter>(new PrivilegedSMCWriter(std::move(platform)));
}

PrivilegedSMCWriter::PrivilegedSMCWriter(PrivilegedWriterPlatform platform)
    : platform_(std::move(platform)), locator_{InstallLayout{platform_.rootPrefix},
                                               platform_.ownExecutableFolder,
                                               platform_.currentDirectory},
      unitStatus_(
          platform_.readUnitStatus
              ? platform_.readUnitStatus
              : [layout = locator_.layout] { return readHelperUnitStatus(layout.systemctl()); }),
      daemonRoute_(platform_.systemBus) {}

PrivilegedSMCWriter::~PrivilegedSMCWriter() = default;

bool PrivilegedSMCWriter::isRunningAsRoot() const {
    return platform_.effectiveUid() == 0;
}

DaemonStatus PrivilegedSMCWriter::daemonStatus() const {
    return unitStatus_.current();
}

void PrivilegedSMCWriter::registerDaemon() {
    if (unitStatus_.refreshNow() == DaemonStatus::enabled) {
        return; // the installer enabled it as root; asking again would prompt for nothing
    }
    changeUnit(enableHelperUnit);
}

void PrivilegedSMCWriter::unregisterDaemon() {
    changeUnit(disableHelperUnit);
}

void PrivilegedSMCWriter::changeUnit(void (*command)(const std::string& systemctl)) {
    // Whether it worked or not, the state is read again at once.
    struct Reread {
        HelperUnitStatus& status;
        ~Reread() { status.refreshNow(); }
    } reread{unitStatus_};
    command(layout().systemctl());
}

PrivilegedWriteMode PrivilegedSMCWriter::checkPrivilegeStatus() const {
    if (isRunningAsRoot()) {
        return PrivilegedWriteMode::directRoot;
    }
    const std::string installed = layout().daemonBinary();
    const bool installedByRoot = isExecutableFile(installed) && isHelperOwnedByRoot(installed);
    if (installedByRoot && daemonStatus() == DaemonStatus::enabled) {
        return PrivilegedWriteMode::xpcDaemon;
    }
    if (auto helper = locator_.helperToRun(); helper && isHelperSetuid(*helper)) {
        return PrivilegedWriteMode::privilegedHelper;
    }
    if (::access(layout().unitFile().c_str(), F_OK) == 0 && installedByRoot) {
        return PrivilegedWriteMode::xpcDaemon;
    }
    return PrivilegedWriteMode::unauthorized;
}

bool PrivilegedSMCWriter::shouldAttemptXPC() const {
    if (daemonRoute_.isUnavailableForSession()) {
        return false;
    }
    const std::string installed = layout().daemonBinary();
    if (!isExecutableFile(installed) || !isHelperOwnedByRoot(installed)) {
        return false;
    }
    if (daemonStatus() == DaemonStatus::enabled) {
        return true;
    }
    return ::access(layout().unitFile().c_str(), F_OK) == 0;
}

void PrivilegedSMCWriter::complete(WriteCompletion completion, WriteResult result) {
    if (!completion) {
        return;
    }
    if (platform_.postToMain) {
        platform_.postToMain([completion = std::move(completion), result] { completion(result); });
    } else {
        completion(result);
    }
}

void PrivilegedSMCWriter::writeAsRoot(const RootWrite& write, WriteCompletion& completion) {
    WriteResult result;
    try {
        result = write(platform_.smc());
    } catch (const SMCError& error) {
        result = error;
    }
    if (completion) {
        completion(result);
    }
}

void PrivilegedSMCWriter::routeWrite(HelperDaemonRoute::Call call,
                                     std::vector<std::string> helperArguments,
                                     const char* defaultFailure, WriteCompletion completion) {
    if (shouldAttemptXPC()) {
        routeThroughDaemon(std::move(call), std::move(helperArguments), defaultFailure,
                           std::move(completion));
    } else {
        runDirectHelperCommand(std::move(helperArguments), std::move(completion));
    }
}

void PrivilegedSMCWriter::routeThroughDaemon(HelperDaemonRoute::Call call,
                                             std::vector<std::string> helperArguments,
                                             const char* defaultFailure,
                                             WriteCompletion completion) {
    std::weak_ptr<PrivilegedSMCWriter> weak = weak_from_this();
    busQueue_.async([weak, call = std::move(call), helperArguments = std::move(helperArguments),
                     defaultFailure, completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        const HelperDaemonRoute::Reply reply = self->daemonRoute_.call(call);
        if (!reply.reached) {
            self->daemonRoute_.giveUp();
            self->runDirectHelperCommand(std::move(helperArguments), std::move(completion));
            return;
        }
        if (reply.success) {
            self->complete(std::move(completion), std::nullopt);
            return;
        }
        if (auto helper = self->locator_.helperToRun(); helper && isHelperSetuid(*helper)) {
            self->runDirectHelperCommand(std::move(helperArguments), std::move(completion));
            return;
        }
        self->complete(
            std::move(completion),
            SMCError::writeFailed(reply.message.empty() ? defaultFailure : reply.message));
    });
}

WriteResult PrivilegedSMCWriter::runHelper(const std::string& path, bool isSetuid,
                                           const std::vector<std::string>& arguments) const {
    return runHelperProcess(path, isSetuid, arguments, layout().sudo());
}

void PrivilegedSMCWriter::runDirectHelperCommand(std::vector<std::string> arguments,
                                                 WriteCompletion completion) {
    auto helper = locator_.helperToRun();
    if (!helper) {
        complete(std::move(completion), SMCError::writeFailed(Text::helperNotFound));
        return;
    }
    const bool setuid = isHelperSetuid(*helper);
    if (!setuid && !isExecutableFile(layout().sudo())) {
        // Nothing can run it as root: a missing authorization, said once, rather than a failed
        // program start on every tick.
        complete(std::move(completion), SMCError::privilegedRequired());
        return;
    }
    std::weak_ptr<PrivilegedSMCWriter> weak = weak_from_this();
    writerQueue_.async([weak, path = *helper, setuid, arguments = std::move(arguments),
                        completion = std::move(completion)]() mutable {
        if (auto self = weak.lock()) {
            self->complete(std::move(completion), self->runHelper(path, setuid, arguments));
        }
    });
}

void PrivilegedSMCWriter::setFanRPM(std::int64_t index, float rpm, WriteCompletion completion) {
    if (!isFanIndex(index) || !std::isfinite(rpm)) {
        if (completion) {
            completion(SMCError::writeFailed(Text::invalidFanOrRPM));
        }
        return;
    }
    if (isRunningAsRoot()) {
        writeAsRoot(
            [index, rpm](SMCService& smc) {
                smc.writeFanMode(index, FanMode::manual);
                smc.writeFanTargetRPM(index, rpm);
                return std::optional<SMCError>();
            },
            completion);
        return;
    }
    routeWrite([index, rpm](SMCHelperClient& client) { return client.SetFanRPM(index, rpm); },
               {Cmd::setRPM, std::to_string(index), shortestSpeedText(rpm)}, Text::xpcWriteFailed,
               std::move(completion));
}

void PrivilegedSMCWriter::setFanMode(std::int64_t index, FanMode mode, WriteCompletion completion) {
    if (!isFanIndex(index)) {
        if (completion) {
            completion(SMCError::writeFailed(Text::invalidFan));
        }
        return;
    }
    if (isRunningAsRoot()) {
        writeAsRoot(
            [index, mode](SMCService& smc) {
                smc.writeFanMode(index, mode);
                return std::optional<SMCError>();
            },
            completion);
        return;
    }
    const auto raw = static_cast<std::int64_t>(mode);
    routeWrite([index, raw](SMCHelperClient& client) { return client.SetFanMode(index, raw); },
               {Cmd::setMode, std::to_string(index), std::to_string(raw)}, Text::xpcWriteFailed,
               std::move(completion));
}

void PrivilegedSMCWriter::restoreAllFansToAuto(WriteCompletion completion) {
    cancelCalibration(); // its fan goes back with the rest
    if (isRunningAsRoot()) {
        writeAsRoot([](SMCService& smc) { return smc.resetAllFansToAutomatic(); }, completion);
        return;
    }
    routeWrite([](SMCHelperClient& client) { return client.ResetAllFansToAuto(); },
               {Cmd::resetAuto}, Text::resetFailed, std::move(completion));
}

void PrivilegedSMCWriter::restoreAllFansToAutoSynchronously(double timeoutSeconds) {
    cancelCalibration();
    if (isRunningAsRoot()) {
        waitForCalibrationEnd(timeoutSeconds); // measured here: its fan goes back first
        restoreAllFansToAuto(nullptr);
        return;
    }
    if (checkPrivilegeStatus() == PrivilegedWriteMode::unauthorized) {
        return;
    }
    struct Signal {
        std::mutex mutex;
        std::condition_variable done;
        bool signalled = false;
        void fire() {
            {
                std::lock_guard guard(mutex);
                signalled = true;
            }
            done.notify_all();
        }
    };
    auto signal = std::make_shared<Signal>();
    std::weak_ptr<PrivilegedSMCWriter> weak = weak_from_this();
    auto helper = locator_.helperToRun();
    if (helper && isHelperSetuid(*helper)) {
        writerQueue_.async([weak, path = *helper, signal] {
            if (auto self = weak.lock()) {
                (void)self->runHelper(path, true, {Cmd::resetAuto});
            }
            signal->fire();
        });
    } else if (shouldAttemptXPC()) {
        busQueue_.async([weak, signal] {
            if (auto self = weak.lock()) {
                (void)self->daemonRoute_.call(
                    [](SMCHelperClient& client) { return client.ResetAllFansToAuto(); });
            }
            signal->fire();
        });
    } else {
        return;
    }
    std::unique_lock lock(signal->mutex);
    signal->done.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                          [&] { return signal->signalled; });
}

void PrivilegedSMCWriter::drain() {
    busQueue_.drain();
    writerQueue_.drain();
    busQueue_.drain();
    unitStatus_.drain();
}

} // namespace ventoral
