#pragma once

#include "application/privileged/PrivilegedWriteMode.h"
#include "core/smc/FanLimits.h"
#include "core/smc/SMCError.h"
#include "core/telemetry/FanInfo.h"

#include <functional>
#include <optional>
#include <string>

namespace ventoral {

// Success (none) or the error a write ended with.
using WriteResult = std::optional<SMCError>;
using WriteCompletion = std::function<void(WriteResult)>;
// A calibration's reports, which may come on any thread: progress (0 to 1, with a line to
// show), then its outcome once.
using CalibrationProgress = std::function<void(double fraction, const std::string& message)>;
using CalibrationCompletion = std::function<void(const FanCalibrationOutcome& outcome)>;

// What the engine needs of the privileged writer; the one real implementation is
// PrivilegedSMCWriter, and tests drive the engine with a fake.
class FanWriter {
public:
    virtual ~FanWriter() = default;
    virtual PrivilegedWriteMode checkPrivilegeStatus() const = 0;
    virtual void setFanRPM(std::int64_t index, float rpm, WriteCompletion completion) = 0;
    virtual void setFanMode(std::int64_t index, FanMode mode, WriteCompletion completion) = 0;
    virtual void restoreAllFansToAuto(WriteCompletion completion) = 0;
    virtual void restoreAllFansToAutoSynchronously(double timeoutSeconds) = 0;
    virtual void authorize(WriteCompletion completion) = 0;
    virtual void setLowPowerMode(bool enabled, WriteCompletion completion) = 0;
    // Measures a fan's limits by the same route as the writes; returns at once.
    virtual void calibrateFan(std::int64_t index, CalibrationProgress progress,
                              CalibrationCompletion completion) = 0;
};

} // namespace ventoral
