#pragma once

#include "core/smc/SMCProtocol.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ventoral {

struct OperatorKeyInfo {
    std::uint32_t dataSize = 0;
    std::string dataType;
    std::uint8_t dataAttributes = 0;
};

// The helper's own controller writer: no caches, plain results, every exchange under `lock`.
class DirectSMCOperator {
public:
    explicit DirectSMCOperator(std::unique_ptr<SmcTransport> transport);
    DirectSMCOperator(const DirectSMCOperator&) = delete;
    DirectSMCOperator& operator=(const DirectSMCOperator&) = delete;
    ~DirectSMCOperator();

    bool openConnection();
    std::optional<OperatorKeyInfo> readKeyInfo(const std::string& key);
    std::optional<double> readNumber(const std::string& key);
    bool writeRaw(const std::string& key, std::span<const std::uint8_t> bytes,
                  std::optional<std::string> dataType = std::nullopt);

    int readFanCount();
    bool setFanMode(std::int64_t index, std::int64_t mode);
    bool setFanRPM(std::int64_t index, float rpm);
    bool resetAllFansToAuto();
    // Hands fans back exactly as they were before this program took them over: of `fans`, and
    // with `everyRemembered` of every fan the controller remembers taking, those it remembers
    // (every one of `fans` where it keeps no memory). Fans it never took stay as they are.
    // Returns the fans handed back.
    std::vector<std::int64_t> handBackFans(const std::vector<std::int64_t>& fans,
                                           bool everyRemembered);
    // Whether the fan reports manual control now.
    bool isFanManual(std::int64_t index);
    std::vector<std::string> takeNotices();
    // Each fan's hardware name and limits, where the controller knows more than its keys.
    std::vector<FanLimitsInfo> fanLimits();
    // Measures a fan's limits and keeps them (minutes); other calls go on meanwhile.
    FanCalibrationOutcome calibrateFan(std::int64_t index, const FanCalibrationControl& control);

private:
    bool openUnlocked();
    // A listed fan that a controller remembering its takeovers says this program never took.
    bool neverTakenOver(std::int64_t index);
    // The reply record of a call the controller accepted, or nothing.
    std::optional<SMCKeyData_t> callUnlocked(const SMCKeyData_t& input);
    // The key-information sub-record exactly as the controller returned it.
    std::optional<SMCKeyInfoData> readKeyInfoUnlocked(const std::string& key);

    std::unique_ptr<SmcTransport> transport_;
    std::mutex lock_;
};

} // namespace ventoral
