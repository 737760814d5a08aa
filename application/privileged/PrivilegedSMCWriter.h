#pragma once

#include "application/privileged/FanWriter.h"
#include "application/privileged/PrivilegedWriteMode.h"
#include "core/common/SerialQueue.h"
#include "core/power/PowerPlatform.h"
#include "core/smc/SMCError.h"
#include "core/smc/SMCService.h"
#include "platform/power/PowerProfiles.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ventoral {

class SMCHelperClient;

// Every text the writer reports.
namespace PrivilegedWriterText {
inline constexpr const char* invalidFanOrRPM = "Invalid fan index or RPM value";
inline constexpr const char* invalidFan = "Invalid fan index";
inline constexpr const char* xpcWriteFailed = "XPC write failed";
inline constexpr const char* resetFailed = "Reset failed";
inline constexpr const char* helperNotFound =
    "VentoralHelper binary not found. Please click 'Authorize Fan Control'.";
inline constexpr const char* helperNotLocated = "VentoralHelper executable could not be located.";
inline constexpr const char* helperExitCode = "Helper exit code: ";
inline constexpr const char* passwordRequired = "password is required";
inline constexpr const char* promptDismissed = "The administrator prompt was dismissed.";
inline constexpr const char* lowPowerModeFailed =
    "Low Power Mode could not be switched: no power profile daemon or platform profile accepted "
    "it";
} // namespace PrivilegedWriterText

// The outcome of one shell command run as root after asking the user.
struct ElevationOutcome {
    enum class Kind { succeeded, failed, unavailable };
    Kind kind = Kind::unavailable;
    std::string message; // for `failed`: what the prompt or the command said
};
using ElevationRunner = std::function<ElevationOutcome(const std::string& shellCommand)>;
// polkit's pkexec running `/bin/sh -c shellCommand`.
ElevationOutcome runWithPkexec(const std::string& pkexecPath, const std::string& shellCommand);

bool isValidUTF8(const std::string& text);
// The shell's single-quoted form of `text`.
std::string shellQuoted(const std::string& text);
// The shortest decimal that reads back as the same float, always with a fraction: "1800.0".
std::string shortestSpeedText(float rpm);

enum class DaemonStatus { notRegistered, enabled, requiresApproval, notFound };

struct PrivilegedWriterPlatform {
    std::string rootPrefix; // prefixed to every installed path (tests)
    std::function<uid_t()> effectiveUid;
    std::function<SMCService&()> smc;
    BusOpener systemBus;
    MainThreadExecutor postToMain;
    ElevationRunner runElevated; // none: pkexec under the prefix
    std::string ownExecutableFolder;
    std::string currentDirectory;
    std::string sysfsRoot;
};

// Carries each fan write to the hardware by the best route available: directly as root,
// through the helper daemon on the system bus, or by running the helper.
class PrivilegedSMCWriter : public FanWriter,
                            public std::enable_shared_from_this<PrivilegedSMCWriter> {
public:
    static std::shared_ptr<PrivilegedSMCWriter> make(PrivilegedWriterPlatform platform);
    static PrivilegedSMCWriter& shared();
    ~PrivilegedSMCWriter() override;

    static constexpr const char* machServiceName = "com.tesvane.smchelper";
    static constexpr const char* daemonUnitName = "com.tesvane.smchelper.service";
    std::string helperInstalledPath() const;
    std::string localBinPath() const;
    std::string launchDaemonPlistPath() const; // the systemd unit
    std::string systemctlPath() const;
    std::string sudoPath() const;
    std::string pkexecPath() const;

    bool isRunningAsRoot() const;
    DaemonStatus daemonStatus() const;
    void registerDaemon();   // throws SMCError
    void unregisterDaemon(); // throws SMCError
    PrivilegedWriteMode checkPrivilegeStatus() const override;
    bool canControlHardware() const;
    static bool isHelperSetuid(const std::string& path);
    static bool isHelperOwnedByRoot(const std::string& path);

    void setFanRPM(std::int64_t index, float rpm, WriteCompletion completion) override;
    void setFanMode(std::int64_t index, FanMode mode, WriteCompletion completion) override;
    void restoreAllFansToAuto(WriteCompletion completion) override;
    void restoreAllFansToAutoSynchronously(double timeoutSeconds) override;

    std::optional<std::string> resolveBundledOrBuildHelperPath() const;
    std::optional<std::string> resolveHelperBinaryPath() const;
    std::optional<std::string> resolveInstallSourceHelperPath() const;
    WriteResult executeHelperProcessSynchronously(const std::string& resolvedPath, bool isSetuid,
                                                  const std::vector<std::string>& arguments);
    void runDirectHelperCommand(std::vector<std::string> arguments, WriteCompletion completion);
    void authorize(WriteCompletion completion) override;
    void setLowPowerMode(bool enabled, WriteCompletion completion) override;
    void runElevatedLowPowerModeFallback(const std::string& argVal, WriteCompletion completion);

    bool xpcUnavailableForSession() const;
    // Waits for the queued work (tests, and the end of a command-line run).
    void drain();

private:
    explicit PrivilegedSMCWriter(PrivilegedWriterPlatform platform);

    // One call to the helper daemon: true or false with its message, or a failure to reach it.
    struct BusReply {
        bool reached = false;
        bool success = false;
        std::string message;
    };
    using BusCall = std::function<std::tuple<bool, std::string>(SMCHelperClient&)>;

    bool shouldAttemptXPC() const;
    DaemonStatus readDaemonStatus() const;
    void forgetDaemonStatus();
    BusReply callDaemon(const BusCall& call);
    void routeThroughDaemon(BusCall call, std::vector<std::string> helperArguments,
                            const char* defaultFailure, WriteCompletion completion);
    void complete(WriteCompletion completion, WriteResult result);
    WriteResult restoreFansDirectlyAsRoot();
    void runElevated(std::string shellCommand, bool registerAfter, WriteCompletion completion);
    bool isExecutable(const std::string& path) const;

    PrivilegedWriterPlatform platform_;
    mutable std::mutex connectionLock_;
    std::unique_ptr<sdbus::IConnection> xpcConnection_;
    std::unique_ptr<SMCHelperClient> client_;
    bool xpcUnavailableForSession_ = false;
    mutable std::mutex statusLock_;
    mutable std::optional<DaemonStatus> cachedStatus_;
    mutable std::chrono::steady_clock::time_point cachedStatusAt_;
    // Last: torn down first, so no job outlives what it uses.
    SerialQueue busQueue_{"com.tesvane.smcwriter.bus"};
    SerialQueue writerQueue_{"com.tesvane.smcwriter.serial"};
};

} // namespace ventoral
