#pragma once

#include "platform/hwmon/FanDutyMap.h"

#include <optional>
#include <string>
#include <vector>

namespace ventoral {

// A fan's measured limits, keyed by what identifies its channel across boots.
struct FanCalibration {
    std::string device; // resolved device path, below /sys
    std::string chip;
    int channel = 0;
    std::optional<int> stopDuty; // none for a fan that never stopped
    int startDuty = 0;           // the lowest duty that starts it from standstill
    float minimumRPM = 0;        // its speed there
    float maximumRPM = 0;        // its speed at full duty
    std::vector<DutyPoint> points;

    bool identifies(const std::string& otherDevice, const std::string& otherChip,
                    int otherChannel) const {
        return device == otherDevice && chip == otherChip && channel == otherChannel;
    }
    // The duties presets may use: from the start duty up.
    FanDutyMap dutyMap() const;
    friend bool operator==(const FanCalibration&, const FanCalibration&) = default;
};

// The calibration document both programs read; only the helper writes it.
class FanCalibrationStore {
public:
    explicit FanCalibrationStore(std::string path);

    // /var/lib/ventoral/fan-calibration.json for the real /sys; inside the fixture otherwise.
    static std::string pathFor(const std::string& sysfsRoot);
    const std::string& path() const { return path_; }

    // Every readable entry; a missing or unreadable document holds none, and an entry that
    // does not decode is skipped.
    std::vector<FanCalibration> load() const;
    // Replaces the entry for the same fan; false with `error` set when it could not be stored.
    bool save(const FanCalibration& calibration, std::string* error = nullptr) const;
    // Changes whenever the document is replaced; none when there is no document.
    std::optional<std::string> stamp() const;

private:
    std::string path_;
};

std::string encodeFanCalibrations(const std::vector<FanCalibration>& calibrations);
// Throws DecodingError for a document that is not one; skips entries that do not decode.
std::vector<FanCalibration> decodeFanCalibrations(const std::string& bytes);

} // namespace ventoral
