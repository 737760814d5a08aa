#pragma once

#include "application/privileged/Elevation.h"
#include "application/privileged/FanWriter.h"
#include "application/privileged/HelperDaemonRoute.h"
#include "application/privileged/HelperProcess.h"
#include "application/privileged/HelperUnitStatus.h"
#include "application/privileged/PrivilegedWriteMode.h"
#include "core/common/SerialQueue.h"
#include "core/helper/InstallLayout.h"
#include "core/power/PowerPlatform.h"
#include "core/smc/SMCService.h"
#include "platform/power/PowerProfiles.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ventoral {

// Every text the writer reports.
namespace PrivilegedWriterText {
inline constexpr const char* invalidFanOrRPM = "Invalid fan index or RPM value";
inline constexpr const char* invalidFan = "Invalid fan index";
inline constexpr const char* xpcWriteFailed = "XPC write failed";
inline constexpr const char* resetFailed = "Reset failed";
inline constexpr const char* helperNotFound =
    "VentoralHelper binary not found. Please click 'Authorize Fan Control'.";
inline constexpr const char* helperNotLocated = "VentoralHelper executable could not be located.";
inline constexpr const char* calibrationBusy = "A fan is being calibrated already";
inline constexpr const char* calibrationStarting = "Starting";
inline constexpr const char* calibrationByHelper =
    "Measuring (this takes a minute or two; progress shows when the helper daemon is installed)";
inline constexpr const char* daemonWentAway =
    "The helper daemon stopped, or stopped answering, before the calibration ended";
inline constexpr const char* calibrationStopped =
    "The calibration was stopped; the fan goes back to its own control";
inline constexpr const char* lowPowerModeFailed =
    "Low Power Mode could not be switched: no power profile daemon or platform profile accepted "
    "it";
} // namespace PrivilegedWriterText

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
    // The helper unit's state; none: systemctl under the prefix.
    HelperUnitStatus::Reader readUnitStatus;
};

// Carries each fan write to the hardware by the best route available: directly as root,
// through the helper daemon on the system bus, or by running the helper.
class PrivilegedSMCWriter : public FanWriter,
                            public std::enable_shared_from_this<PrivilegedSMCWriter> {
public:
    static std::shared_ptr<PrivilegedSMCWriter> make(PrivilegedWriterPlatform platform);
    static PrivilegedSMCWriter& shared();
    ~PrivilegedSMCWriter() override;

    const InstallLayout& layout() const { return locator_.layout; }
    const HelperLocator& helperLocator() const { return locator_; }
    std::string helperInstalledPath() const { return layout().daemonBinary(); }
    std::string localBinPath() const { return layout().commandBinary(); }
    std::string launchDaemonPlistPath() const { return layout().unitFile(); }

    bool isRunningAsRoot() const;
    // Known without waiting; see HelperUnitStatus.
    DaemonStatus daemonStatus() const;
    void registerDaemon();   // throws SMCError
    void unregisterDaemon(); // throws SMCError
    PrivilegedWriteMode checkPrivilegeStatus() const override;

    void setFanRPM(std::int64_t index, float rpm, WriteCompletion completion) override;
    void setFanMode(std::int64_t index, FanMode mode, WriteCompletion completion) override;
    void restoreAllFansToAuto(WriteCompletion completion) override;
    void restoreAllFansToAutoSynchronously(double timeoutSeconds) override;
    void authorize(WriteCompletion completion) override;
    void setLowPowerMode(bool enabled, WriteCompletion completion) override;
    void calibrateFan(std::int64_t index, CalibrationProgress progress,
                      CalibrationCompletion completion) override;
    // Asks a running calibration to stop; the fan goes back as it was.
    void cancelCalibration();
    // Waits, at most that long, until a calibration in this process has put its fan back.
    void waitForCalibrationEnd(double timeoutSeconds);

    bool xpcUnavailableForSession() const { return daemonRoute_.isUnavailableForSession(); }
    // Waits for the queued work (tests, and the end of a command-line run).
    void drain();

private:
    explicit PrivilegedSMCWriter(PrivilegedWriterPlatform platform);

    using RootWrite = std::function<std::optional<SMCError>(SMCService&)>;

    bool shouldAttemptXPC() const;
    void changeUnit(void (*command)(const std::string& systemctl));
    // A write as root, completed before this returns.
    void writeAsRoot(const RootWrite& write, WriteCompletion& completion);
    // The bus first; the helper process when the daemon cannot be reached, or refused and a
    // set-user-id helper can try.
    void routeWrite(HelperDaemonRoute::Call call, std::vector<std::string> helperArguments,
                    const char* defaultFailure, WriteCompletion completion);
    void routeThroughDaemon(HelperDaemonRoute::Call call, std::vector<std::string> helperArguments,
                            const char* defaultFailure, WriteCompletion completion);
    void runDirectHelperCommand(std::vector<std::string> arguments, WriteCompletion completion);
    WriteResult runHelper(const std::string& path, bool isSetuid,
                          const std::vector<std::string>& arguments) const;
    void complete(WriteCompletion completion, WriteResult result);
    void runElevated(std::string shellCommand, bool registerAfter, WriteCompletion completion);
    void runElevatedLowPowerModeFallback(const std::string& argVal, WriteCompletion completion);
    void setLowPowerModeAsUser(bool enabled, WriteCompletion completion);

    struct CalibrationJob;
    // The routes of a calibration, each run on the job's own thread.
    FanCalibrationOutcome calibrateAsRoot(std::int64_t index, CalibrationJob& job);
    std::optional<FanCalibrationOutcome> calibrateThroughDaemon(std::int64_t index,
                                                                CalibrationJob& job);
    FanCalibrationOutcome calibrateWithHelperProcess(std::int64_t index, CalibrationJob& job);

    PrivilegedWriterPlatform platform_;
    std::mutex calibrationLock_;
    std::shared_ptr<CalibrationJob> calibration_;
    HelperLocator locator_;
    mutable HelperUnitStatus unitStatus_;
    HelperDaemonRoute daemonRoute_;
    // Last: torn down first, so no job outlives what it uses.
    SerialQueue busQueue_{"com.tesvane.smcwriter.bus"};
    SerialQueue writerQueue_{"com.tesvane.smcwriter.serial"};
};

} // namespace ventoral
