#include "application/privileged/PrivilegedSMCWriter.h"

#include "core/common/Format.h"
#include "core/helper/HelperProtocol.h"
#include "helper/dbus/SMCHelperClient.h"
#include "platform/power/LowPowerModeSwitch.h"
#include "platform/process/ProcessRunner.h"

#include <charconv>
#include <condition_variable>
#include <filesystem>
#include <sdbus-c++/sdbus-c++.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {

namespace Text = PrivilegedWriterText;
namespace Cmd = HelperProtocol::Command;

namespace {} // namespace

bool isValidUTF8(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        if (c >= 0x80) {
            if ((c >> 5) == 0x6) {
                extra = 1;
            } else if ((c >> 4) == 0xE) {
                extra = 2;
            } else if ((c >> 3) == 0x1E) {
                extra = 3;
            } else {
                return false;
            }
        }
        if (n - i <= extra) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string shortestSpeedText(float rpm) {
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, rpm, std::chars_format::fixed);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (text.find('.') == std::string::npos) {
        text += ".0";
    }
    return text;
}

ElevationOutcome runWithPkexec(const std::string& pkexecPath, const std::string& shellCommand) {
    auto run = runProgramCapturingOutput(pkexecPath, {"/bin/sh", "-c", shellCommand});
    if (!run.started) {
        return {ElevationOutcome::Kind::unavailable, {}};
    }
    if (run.exitStatus == 0) {
        return {ElevationOutcome::Kind::succeeded, {}};
    }
    if (run.exitStatus == 126) {
        return {ElevationOutcome::Kind::failed, Text::promptDismissed};
    }
    std::string message = std::string(trimWhitespace(run.output));
    if (message.empty()) {
        return {ElevationOutcome::Kind::unavailable, {}};
    }
    return {ElevationOutcome::Kind::failed, message};
}

std::shared_ptr<PrivilegedSMCWriter> PrivilegedSMCWriter::make(PrivilegedWriterPlatform platform) {
    return std::shared_ptr<PrivilegedSMCWriter>(new PrivilegedSMCWriter(std::move(platform)));
}

PrivilegedSMCWriter::PrivilegedSMCWriter(PrivilegedWriterPlatform platform)
    : platform_(std::move(platform)) {}

PrivilegedSMCWriter::~PrivilegedSMCWriter() = default;

std::string PrivilegedSMCWriter::helperInstalledPath() const {
    return platform_.rootPrefix + "/usr/local/libexec/com.tesvane.smchelper";
}
std::string PrivilegedSMCWriter::localBinPath() const {
    return platform_.rootPrefix + "/usr/local/bin/VentoralHelper";
}
std::string PrivilegedSMCWriter::launchDaemonPlistPath() const {
    return platform_.rootPrefix + "/etc/systemd/system/com.tesvane.smchelper.service";
}
std::string PrivilegedSMCWriter::systemctlPath() const {
    for (const char* candidate : {"/usr/bin/systemctl", "/bin/systemctl"}) {
        if (isExecutable(platform_.rootPrefix + candidate)) {
            return platform_.rootPrefix + candidate;
        }
    }
    return platform_.rootPrefix + "/usr/bin/systemctl";
}
std::string PrivilegedSMCWriter::sudoPath() const {
    return platform_.rootPrefix + "/usr/bin/sudo";
}
std::string PrivilegedSMCWriter::pkexecPath() const {
    return platform_.rootPrefix + "/usr/bin/pkexec";
}

bool PrivilegedSMCWriter::isExecutable(const std::string& path) const {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool PrivilegedSMCWriter::isRunningAsRoot() const {
    return platform_.effectiveUid() == 0;
}

bool PrivilegedSMCWriter::isHelperSetuid(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_uid == 0 && (st.st_mode & S_ISUID) != 0;
}

bool PrivilegedSMCWriter::isHelperOwnedByRoot(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_uid == 0;
}

DaemonStatus PrivilegedSMCWriter::daemonStatus() const {
    // Asking systemd starts a process; fan writes ask often, so an answer is kept briefly.
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard guard(statusLock_);
        if (cachedStatus_ && now - cachedStatusAt_ < std::chrono::seconds(2)) {
            return *cachedStatus_;
        }
    }
    DaemonStatus status = readDaemonStatus();
    std::lock_guard guard(statusLock_);
    cachedStatus_ = status;
    cachedStatusAt_ = now;
    return status;
}

void PrivilegedSMCWriter::forgetDaemonStatus() {
    std::lock_guard guard(statusLock_);
    cachedStatus_.reset();
}

DaemonStatus PrivilegedSMCWriter::readDaemonStatus() const {
    auto run = runProgramCapturingOutput(systemctlPath(), {"is-enabled", daemonUnitName});
    if (!run.started) {
        return DaemonStatus::notFound;
    }
    const std::string state =
        std::string(trimWhitespace(run.output.substr(0, run.output.find('\n'))));
    if (state == "enabled" || state == "enabled-runtime" || state == "alias") {
        return DaemonStatus::enabled;
    }
    if (state == "not-found" || run.output.find("No such file") != std::string::npos ||
        run.output.find("not found") != std::string::npos) {
        return DaemonStatus::notFound;
    }
    return DaemonStatus::notRegistered;
}

void PrivilegedSMCWriter::registerDaemon() {
    forgetDaemonStatus();
    if (daemonStatus() == DaemonStatus::enabled) {
        return; // the installer enabled it as root; asking again would prompt for nothing
    }
    auto run = runProgramCapturingOutput(systemctlPath(), {"enable", "--now", daemonUnitName});
    forgetDaemonStatus();
    if (!run.started || run.exitStatus != 0) {
        throw SMCError::writeFailed(run.started ? std::string(trimWhitespace(run.output))
                                                : run.launchError);
    }
}

void PrivilegedSMCWriter::unregisterDaemon() {
    auto run = runProgramCapturingOutput(systemctlPath(), {"disable", "--now", daemonUnitName});
    forgetDaemonStatus();
    if (!run.started || run.exitStatus != 0) {
        throw SMCError::writeFailed(run.started ? std::string(trimWhitespace(run.output))
                                                : run.launchError);
    }
}

PrivilegedWriteMode PrivilegedSMCWriter::checkPrivilegeStatus() const {
    if (isRunningAsRoot()) {
        return PrivilegedWriteMode::directRoot;
    }
    const std::string installed = helperInstalledPath();
    const bool installedByRoot = isExecutable(installed) && isHelperOwnedByRoot(installed);
    if (installedByRoot && daemonStatus() == DaemonStatus::enabled) {
        return PrivilegedWriteMode::xpcDaemon;
    }
    if (auto helper = resolveHelperBinaryPath(); helper && isHelperSetuid(*helper)) {
        return PrivilegedWriteMode::privilegedHelper;
    }
    if (::access(launchDaemonPlistPath().c_str(), F_OK) == 0 && installedByRoot) {
        return PrivilegedWriteMode::xpcDaemon;
    }
    return PrivilegedWriteMode::unauthorized;
}

bool PrivilegedSMCWriter::canControlHardware() const {
    return checkPrivilegeStatus() != PrivilegedWriteMode::unauthorized;
}

bool PrivilegedSMCWriter::xpcUnavailableForSession() const {
    std::lock_guard guard(connectionLock_);
    return xpcUnavailableForSession_;
}

bool PrivilegedSMCWriter::shouldAttemptXPC() const {
    if (xpcUnavailableForSession()) {
        return false;
    }
    const std::string installed = helperInstalledPath();
    if (!isExecutable(installed) || !isHelperOwnedByRoot(installed)) {
        return false;
    }
    if (daemonStatus() == DaemonStatus::enabled) {
        return true;
    }
    return ::access(launchDaemonPlistPath().c_str(), F_OK) == 0;
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

PrivilegedSMCWriter::BusReply PrivilegedSMCWriter::callDaemon(const BusCall& call) {
    SMCHelperClient* client = nullptr;
    {
        std::lock_guard guard(connectionLock_);
        if (!client_) {
            xpcConnection_ = platform_.systemBus ? platform_.systemBus() : nullptr;
            if (xpcConnection_) {
                try {
                    client_ = std::make_unique<SMCHelperClient>(*xpcConnection_);
                } catch (const sdbus::Error&) {
                    xpcConnection_.reset();
                }
            }
        }
        client = client_.get();
    }
    if (!client) {
        return {};
    }
    try {
        // Only the bus queue calls through the connection, so it is not used by two at once.
        auto [success, message] = call(*client);
        return {true, success, message};
    } catch (const sdbus::Error&) {
        return {};
    }
}

void PrivilegedSMCWriter::routeThroughDaemon(BusCall call, std::vector<std::string> helperArguments,
                                             const char* defaultFailure,
                                             WriteCompletion completion) {
    std::weak_ptr<PrivilegedSMCWriter> weak = weak_from_this();
    busQueue_.async([weak, call = std::move(call), helperArguments = std::move(helperArguments),
                     defaultFailure, completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        BusReply reply = self->callDaemon(call);
        if (!reply.reached) {
            // The daemon cannot be reached: no more bus calls this session.
            std::unique_ptr<SMCHelperClient> dropped;
            std::unique_ptr<sdbus::IConnection> droppedConnection;
            {
                std::lock_guard guard(self->connectionLock_);
                dropped = std::move(self->client_);
                droppedConnection = std::move(self->xpcConnection_);
                self->xpcUnavailableForSession_ = true;
            }
            dropped.reset();
            self->runDirectHelperCommand(std::move(helperArguments), std::move(completion));
            return;
        }
        if (reply.success) {
            self->complete(std::move(completion), std::nullopt);
            return;
        }
        if (auto helper = self->resolveHelperBinaryPath(); helper && isHelperSetuid(*helper)) {
            self->runDirectHelperCommand(std::move(helperArguments), std::move(completion));
            return;
        }
        self->complete(
            std::move(completion),
            SMCError::writeFailed(reply.message.empty() ? defaultFailure : reply.message));
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
        WriteResult result;
        try {
            SMCService& smc = platform_.smc();
            smc.writeFanMode(index, FanMode::manual);
            smc.writeFanTargetRPM(index, rpm);
        } catch (const SMCError& error) {
            result = error;
        }
        if (completion) {
            completion(result);
        }
        return;
    }
    std::vector<std::string> arguments{Cmd::setRPM, std::to_string(index), shortestSpeedText(rpm)};
    if (shouldAttemptXPC()) {
        routeThroughDaemon(
            [index, rpm](SMCHelperClient& client) { return client.SetFanRPM(index, rpm); },
            std::move(arguments), Text::xpcWriteFailed, std::move(completion));
        return;
    }
    runDirectHelperCommand(std::move(arguments), std::move(completion));
}

void PrivilegedSMCWriter::setFanMode(std::int64_t index, FanMode mode, WriteCompletion completion) {
    if (!isFanIndex(index)) {
        if (completion) {
            completion(SMCError::writeFailed(Text::invalidFan));
        }
        return;
    }
    if (isRunningAsRoot()) {
        WriteResult result;
        try {
            platform_.smc().writeFanMode(index, mode);
        } catch (const SMCError& error) {
            result = error;
        }
        if (completion) {
            completion(result);
        }
        return;
    }
    const auto raw = static_cast<std::int64_t>(mode);
    std::vector<std::string> arguments{Cmd::setMode, std::to_string(index), std::to_string(raw)};
    if (shouldAttemptXPC()) {
        routeThroughDaemon(
            [index, raw](SMCHelperClient& client) { return client.SetFanMode(index, raw); },
            std::move(arguments), Text::xpcWriteFailed, std::move(completion));
        return;
    }
    runDirectHelperCommand(std::move(arguments), std::move(completion));
}

WriteResult PrivilegedSMCWriter::restoreFansDirectlyAsRoot() {
    SMCService& smc = platform_.smc();
    WriteResult last;
    const int count = smc.readFanCount();
    for (int i = 0; i < count; ++i) {
        try {
            smc.writeFanMode(i, FanMode::automatic);
        } catch (const SMCError& error) {
            last = error;
        }
    }
    try {
        if (smc.readKeyInfo("FS! ").dataSize > 0) {
            const std::uint8_t zero[2] = {0, 0};
            smc.writeKeyRaw("FS! ", zero, "ui16");
        }
    } catch (const SMCError&) {
        // The mask is a courtesy; its outcome does not count.
    }
    return last;
}

void PrivilegedSMCWriter::restoreAllFansToAuto(WriteCompletion completion) {
    if (isRunningAsRoot()) {
        auto result = restoreFansDirectlyAsRoot();
        if (completion) {
            completion(result);
        }
        return;
    }
    if (shouldAttemptXPC()) {
        routeThroughDaemon([](SMCHelperClient& client) { return client.ResetAllFansToAuto(); },
                           {Cmd::resetAuto}, Text::resetFailed, std::move(completion));
        return;
    }
    runDirectHelperCommand({Cmd::resetAuto}, std::move(completion));
}

void PrivilegedSMCWriter::restoreAllFansToAutoSynchronously(double timeoutSeconds) {
    if (isRunningAsRoot()) {
        (void)restoreFansDirectlyAsRoot();
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
    auto helper = resolveHelperBinaryPath();
    if (helper && isHelperSetuid(*helper)) {
        writerQueue_.async([weak, path = *helper, signal] {
            if (auto self = weak.lock()) {
                (void)self->executeHelperProcessSynchronously(path, true, {Cmd::resetAuto});
            }
            signal->fire();
        });
    } else if (shouldAttemptXPC()) {
        busQueue_.async([weak, signal] {
            if (auto self = weak.lock()) {
                (void)self->callDaemon(
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
}

// Finding and running the helper, and asking for administrator rights.

std::optional<std::string> PrivilegedSMCWriter::resolveBundledOrBuildHelperPath() const {
    std::vector<std::string> candidates;
    if (!platform_.ownExecutableFolder.empty()) {
        candidates.push_back(platform_.ownExecutableFolder + "/VentoralHelper");
        // The application's place in this project's build tree, beside the helper's.
        candidates.push_back(platform_.ownExecutableFolder + "/../helper/VentoralHelper");
    }
    if (!platform_.currentDirectory.empty()) {
        for (const char* build :
             {"/build/debug/helper/VentoralHelper", "/build/release/helper/VentoralHelper",
              "/build/sanitize/helper/VentoralHelper"}) {
            candidates.push_back(platform_.currentDirectory + build);
        }
    }
    for (const std::string& candidate : candidates) {
        if (isExecutable(candidate)) {
            return std::filesystem::path(candidate).lexically_normal().string();
        }
    }
    return std::nullopt;
}

std::optional<std::string> PrivilegedSMCWriter::resolveHelperBinaryPath() const {
    for (const std::string& installed : {helperInstalledPath(), localBinPath()}) {
        if (isExecutable(installed) && isHelperSetuid(installed)) {
            return installed;
        }
    }
    if (auto bundled = resolveBundledOrBuildHelperPath()) {
        return bundled;
    }
    for (const std::string& installed : {helperInstalledPath(), localBinPath()}) {
        if (isExecutable(installed)) {
            return installed;
        }
    }
    return std::nullopt;
}

std::optional<std::string> PrivilegedSMCWriter::resolveInstallSourceHelperPath() const {
    if (auto bundled = resolveBundledOrBuildHelperPath()) {
        return bundled;
    }
    return resolveHelperBinaryPath();
}

WriteResult PrivilegedSMCWriter::executeHelperProcessSynchronously(
    const std::string& resolvedPath, bool isSetuid, const std::vector<std::string>& arguments) {
    std::string program = resolvedPath;
    std::vector<std::string> argv = arguments;
    if (!isSetuid) {
        program = sudoPath();
        argv.insert(argv.begin(), {"-n", resolvedPath});
    }
    auto run = runProgramCapturingOutput(program, argv);
    if (!run.started) {
        return SMCError::platform(run.launchError);
    }
    if (run.exitStatus == 0) {
        return std::nullopt;
    }
    std::string message =
        isValidUTF8(run.output) ? std::string(trimWhitespace(run.output)) : std::string();
    if (message.empty()) {
        message = Text::helperExitCode + std::to_string(run.exitStatus);
    }
    if (message.find(Text::passwordRequired) != std::string::npos || run.exitStatus == 2) {
        return SMCError::privilegedRequired();
    }
    return SMCError::writeFailed(message);
}

void PrivilegedSMCWriter::runDirectHelperCommand(std::vector<std::string> arguments,
                                                 WriteCompletion completion) {
    auto helper = resolveHelperBinaryPath();
    if (!helper) {
        complete(std::move(completion), SMCError::writeFailed(Text::helperNotFound));
        return;
    }
    const bool setuid = isHelperSetuid(*helper);
    std::weak_ptr<PrivilegedSMCWriter> weak = weak_from_this();
    writerQueue_.async([weak, path = *helper, setuid, arguments = std::move(arguments),
                        completion = std::move(completion)]() mutable {
        if (auto self = weak.lock()) {
            auto result = self->executeHelperProcessSynchronously(path, setuid, arguments);
            self->complete(std::move(completion), result);
        }
    });
}

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
                                       : runWithPkexec(self->pkexecPath(), shellCommand);
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
        {
            std::lock_guard guard(self->connectionLock_);
            self->xpcUnavailableForSession_ = false;
        }
        self->forgetDaemonStatus(); // the install changed what is there
        if (!registerAfter) {
            self->complete(std::move(completion), std::nullopt);
            return;
        }
        auto finish = [weak, completion = std::move(completion)] {
            if (auto writer = weak.lock()) {
                try {
                    writer->registerDaemon();
                } catch (const SMCError&) {
                    // The helper works without its daemon.
                }
            }
            if (completion) {
                completion(std::nullopt);
            }
        };
        if (self->platform_.postToMain) {
            self->platform_.postToMain(std::move(finish));
        } else {
            finish();
        }
    });
}

void PrivilegedSMCWriter::authorize(WriteCompletion completion) {
    if (isRunningAsRoot() || checkPrivilegeStatus() != PrivilegedWriteMode::unauthorized) {
        if (completion) {
            completion(std::nullopt);
        }
        return;
    }
    auto source = resolveInstallSourceHelperPath();
    if (!source) {
        complete(std::move(completion), SMCError::writeFailed(Text::helperNotLocated));
        return;
    }
    runElevated(shellQuoted(*source) + " " + Cmd::install, true, std::move(completion));
}

void PrivilegedSMCWriter::setLowPowerMode(bool enabled, WriteCompletion completion) {
    const std::string value = enabled ? "1" : "0";
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
    writerQueue_.async([weak, enabled, value, completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        // A user may switch through the profile daemon without any elevation.
        LowPowerModeSwitch profiles(self->platform_.sysfsRoot, self->platform_.systemBus);
        if (profiles.setThroughDaemon(enabled) == true) {
            self->complete(std::move(completion), std::nullopt);
            return;
        }
        if (auto helper = self->resolveHelperBinaryPath(); helper && isHelperSetuid(*helper)) {
            if (!self->executeHelperProcessSynchronously(*helper, true,
                                                         {Cmd::setLowPowerMode, value})) {
                self->complete(std::move(completion), std::nullopt);
                return;
            }
            self->runElevatedLowPowerModeFallback(value, std::move(completion));
            return;
        }
        if (self->shouldAttemptXPC()) {
            self->busQueue_.async(
                [weak, enabled, value, completion = std::move(completion)]() mutable {
                    auto writer = weak.lock();
                    if (!writer) {
                        return;
                    }
                    BusReply reply = writer->callDaemon([enabled](SMCHelperClient& client) {
                        return client.SetLowPowerMode(enabled);
                    });
                    if (!reply.reached) {
                        std::lock_guard guard(writer->connectionLock_);
                        writer->client_.reset();
                        writer->xpcConnection_.reset();
                        writer->xpcUnavailableForSession_ = true;
                    }
                    if (reply.reached && reply.success) {
                        writer->complete(std::move(completion), std::nullopt);
                        return;
                    }
                    writer->runElevatedLowPowerModeFallback(value, std::move(completion));
                });
            return;
        }
        self->runElevatedLowPowerModeFallback(value, std::move(completion));
    });
}

void PrivilegedSMCWriter::runElevatedLowPowerModeFallback(const std::string& argVal,
                                                          WriteCompletion completion) {
    auto source = resolveInstallSourceHelperPath();
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
