// Authorization and Low Power Mode: the operations that may ask for administrator rights.
#include "application/privileged/PrivilegedSMCWriter.h"
#include "core/helper/HelperProtocol.h"
#include "helper/dbus/SMCHelperClient.h"
#include "platform/power/LowPowerModeSwitch.h"

namespace ventoral {

namespace Text = PrivilegedWriterText;
namespace Cmd = HelperProtocol::Command;

void PrivilegedSMCWriter::runElevated(std::string shellCommand, bool registerAfter,
                                      WriteCompletion completion) {
    std::weak_ptr<PrivilegedSMCWriter> weak = weak_from_this();
    writerQueue_.async([weak, shellCommand = std::move(shellCommand), registerAfter,
                        completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        ElevationOutcome outcome = self->platform_.runElevated
                                       ? self->platform_.runElevated(shellCommand)
                                       : runWithPkexec(self->layout().pkexec(), shellCommand);
        switch (outcome.kind) {
        case ElevationOutcome::Kind::failed:
            self->complete(std::move(completion), outcome.message.empty()
                                                      ? SMCError::privilegedRequired()
                                                      : SMCError::writeFailed(outcome.message));
            return;
        case ElevationOutcome::Kind::unavailable:
            self->complete(std::move(completion), SMCError::privilegedRequired());
            return;
        case ElevationOutcome::Kind::succeeded:
            break;
        }
        self->daemonRoute_.makeEligibleAgain();
        if (registerAfter) {
            try {
                self->registerDaemon();
            } catch (const SMCError&) {
                // The helper works without its daemon.
            }
        } else {
            self->unitStatus_.refreshNow(); // the install changed what is there
        }
        self->complete(std::move(completion), std::nullopt);
    });
}

void PrivilegedSMCWriter::authorize(WriteCompletion completion) {
    if (isRunningAsRoot() || checkPrivilegeStatus() != PrivilegedWriteMode::unauthorized) {
        if (completion) {
            completion(std::nullopt);
        }
        return;
    }
    auto source = locator_.installSource();
    if (!source) {
        complete(std::move(completion), SMCError::writeFailed(Text::helperNotLocated));
        return;
    }
    runElevated(shellQuoted(*source) + " " + Cmd::install, true, std::move(completion));
}

void PrivilegedSMCWriter::setLowPowerMode(bool enabled, WriteCompletion completion) {
    std::weak_ptr<PrivilegedSMCWriter> weak = weak_from_this();
    if (isRunningAsRoot()) {
        writerQueue_.async([weak, enabled, completion = std::move(completion)]() mutable {
            if (auto self = weak.lock()) {
                LowPowerModeSwitch profiles(self->platform_.sysfsRoot, self->platform_.systemBus);
                self->complete(std::move(completion),
                               profiles.setLowPowerMode(enabled)
                                   ? WriteResult()
                                   : WriteResult(SMCError::writeFailed(Text::lowPowerModeFailed)));
            }
        });
        return;
    }
    // The rest runs off the caller's thread, one step after another.
    writerQueue_.async([weak, enabled, completion = std::move(completion)]() mutable {
        if (auto self = weak.lock()) {
            self->setLowPowerModeAsUser(enabled, std::move(completion));
        }
    });
}

void PrivilegedSMCWriter::setLowPowerModeAsUser(bool enabled, WriteCompletion completion) {
    const std::string value = enabled ? "1" : "0";
    // A user may switch through the profile daemon without any elevation.
    LowPowerModeSwitch profiles(platform_.sysfsRoot, platform_.systemBus);
    if (profiles.setThroughDaemon(enabled) == true) {
        complete(std::move(completion), std::nullopt);
        return;
    }
    if (auto helper = locator_.helperToRun(); helper && isHelperSetuid(*helper)) {
        if (!runHelper(*helper, true, {Cmd::setLowPowerMode, value})) {
            complete(std::move(completion), std::nullopt);
            return;
        }
        runElevatedLowPowerModeFallback(value, std::move(completion));
        return;
    }
    if (!shouldAttemptXPC()) {
        runElevatedLowPowerModeFallback(value, std::move(completion));
        return;
    }
    std::weak_ptr<PrivilegedSMCWriter> weak = weak_from_this();
    busQueue_.async([weak, enabled, value, completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        const HelperDaemonRoute::Reply reply = self->daemonRoute_.call(
            [enabled](SMCHelperClient& client) { return client.SetLowPowerMode(enabled); });
        if (!reply.reached) {
            self->daemonRoute_.giveUp();
        }
        if (reply.reached && reply.success) {
            self->complete(std::move(completion), std::nullopt);
            return;
        }
        self->runElevatedLowPowerModeFallback(value, std::move(completion));
    });
}

void PrivilegedSMCWriter::runElevatedLowPowerModeFallback(const std::string& argVal,
                                                          WriteCompletion completion) {
    auto source = locator_.installSource();
    if (!source) {
        // Without a helper there is nothing to run as root that knows this machine's profiles.
        complete(std::move(completion), SMCError::writeFailed(Text::helperNotLocated));
        return;
    }
    const std::string helper = shellQuoted(*source);
    runElevated(helper + " " + Cmd::install + " && " + helper + " " + Cmd::setLowPowerMode + " " +
                    argVal,
                false, std::move(completion));
}

} // namespace ventoral
