#pragma once

#include "core/smc/SMCProtocol.h"
#include "platform/hwmon/FanCalibrationStore.h"
#include "platform/hwmon/FanCalibrator.h"
#include "platform/hwmon/FanControlMemory.h"
#include "platform/hwmon/HwmonFanLimits.h"
#include "platform/hwmon/HwmonInventory.h"
#include "platform/hwmon/HwmonReadingMemo.h"
#include "platform/power/RaplMeter.h"

#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace ventoral {

// A virtual controller whose keys are the machine's hwmon fans, temperatures and power
// readings, answering records exactly as the real controller would.
class HwmonSmcTransport final : public SmcTransport {
public:
    static constexpr std::uint8_t keyNotFoundResult = 0x84;
    static constexpr std::uint8_t badArgumentResult = 0x89;
    static constexpr std::uint8_t readFailedResult = 0x8A;
    static constexpr std::int32_t writeErrorReturn = static_cast<std::int32_t>(0xE00002BCu);
    // Only fans 0 to 9 have keys of their own: "F10Ac" folds to the same code as "F10Mn".
    static constexpr std::size_t maxFans = 10;

    // Writes an attribute; returns 0 or the errno. Tests put a refusing writer in its place.
    using AttributeWriter = std::function<int(const std::string& path, const std::string& text)>;
    // Waits while a calibration lets a fan settle; tests move a fake clock instead.
    using Sleeper = std::function<void(double seconds)>;

    HwmonSmcTransport(std::string sysfsRoot, std::string stateFolder,
                      RaplMeter::MonotonicClock clock = monotonicSeconds,
                      AttributeWriter writer = {}, Sleeper sleep = {});

    bool open() override;
    void close() override;
    bool isOpen() const override;
    Reply call(const SMCRecordBytes& input) override;
    std::optional<std::set<std::int64_t>> fansTakenOver() override;
    std::vector<std::string> takeNotices() override;
    std::vector<std::string> unlistedFans() override;
    std::vector<FanLimitsInfo> fanLimits() override;
    bool fanLimitsChanged() override;
    FanCalibrationOutcome calibrateFan(std::int64_t index,
                                       const FanCalibrationControl& control) override;
    // Pacing and safety limits of calibrations; tests make them short.
    void setCalibrationTiming(const FanCalibrationTiming& timing);

    // The temperatures its keys read, shared with a thermal channel source over the same
    // machine so that one pass reads each file once.
    std::shared_ptr<HwmonReadingMemo> temperatureReadings() const { return temperatures_; }

    // The fan channels behind "F0…" to "F9…", in key order.
    std::vector<HwmonFanChannel> fanChannels() const;

private:
    struct WriteOutcome {
        std::int32_t kernelReturn = 0;
        std::uint8_t result = 0;
    };
    struct VirtualKey {
        std::string type;
        std::uint32_t size = 0;
        std::function<std::optional<std::vector<std::uint8_t>>()> read;
        std::function<WriteOutcome(std::span<const std::uint8_t>)> write; // empty: read-only
        std::string source; // the file whose disappearance means the hardware changed
    };

    void buildUnlocked();
    void addFanKeys(std::size_t index, const HwmonFanChannel& fan,
                    const HwmonFanSteering& steering);
    void addTemperatureKeys(const HwmonInventory& inventory);
    void addPowerKeys();
    // A value that cannot be had right now reads as NaN, which callers treat as absent.
    void addFloatKey(const std::string& name, std::string source,
                     std::function<std::optional<double>()> value);
    // Remembers what the fan was set to before this program first takes it over.
    void takeOver(const HwmonFanChannel& fan);
    WriteOutcome writeMode(const HwmonFanChannel& fan, bool manual);
    WriteOutcome restore(const HwmonFanChannel& fan, const FanControlMemory::Original& was);
    // `wanted` as the fan's automatic mode, read back; full duty where the driver refuses it.
    WriteOutcome enableAutomatic(const HwmonFanChannel& fan, std::optional<std::int64_t> wanted);
    WriteOutcome writeTarget(const HwmonFanChannel& fan, const HwmonFanSteering& steering,
                             float rpm);
    // The fan as it is now, to go back to after a calibration.
    std::optional<FanControlMemory::Original> currentState(const HwmonFanChannel& fan) const;
    FanCalibrationOutcome measureAndStore(const HwmonFanChannel& fan, const std::string& name,
                                          const std::string& cpuInput,
                                          const FanCalibrationControl& control);

    const std::string root_;
    FanControlMemory memory_;
    RaplMeter::MonotonicClock clock_;
    AttributeWriter write_;
    Sleeper sleep_;
    FanCalibrationStore calibrations_;
    std::shared_ptr<HwmonReadingMemo> temperatures_;
    FanCalibrationTiming calibrationTiming_;
    std::optional<std::string> calibrationStamp_;
    // When the calibration document was last looked at: a look costs a path walk, and a
    // calibration stored elsewhere may take a moment to be noticed.
    double lastStampCheck_ = -std::numeric_limits<double>::infinity();
    static constexpr double stampCheckInterval = 2;
    mutable std::mutex mutex_;
    bool open_ = false;
    bool rescanNeeded_ = true;
    std::vector<HwmonFanChannel> fans_;
    std::vector<HwmonFanSteering> steering_;
    std::string cpuPackageInput_;
    std::map<std::string, VirtualKey> keys_;
    std::vector<std::shared_ptr<RaplMeter>> meters_;
    std::vector<std::string> notices_;
    std::vector<std::string> unlisted_;
};

// The file a fan's target speed goes to; none where it is steered by its pwm duty.
std::optional<std::string> hwmonTargetFile(const HwmonFanChannel& fan);
// The file that switches a fan between manual and automatic control, if it has one.
std::optional<std::string> hwmonModeFile(const HwmonFanChannel& fan);
// The automatic `pwmN_enable` value of a driver when nothing was remembered; none means the
// driver has no automatic mode and full duty is the safe state.
std::optional<std::int64_t> automaticEnableValue(const std::string& chip);

} // namespace ventoral
