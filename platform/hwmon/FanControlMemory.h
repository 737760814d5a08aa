#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ventoral {

// What a fan channel was set to before the program first took it over, kept in files so that a
// later process (a one-shot "reset-auto") can put it back.
class FanControlMemory {
public:
    struct Original {
        std::int64_t enable = 0; // pwmN_enable, or fanN_manual; 0 for a fan with neither
        std::optional<std::int64_t> pwm;
        std::optional<std::int64_t> target;
        friend bool operator==(const Original&, const Original&) = default;
    };

    explicit FanControlMemory(std::string folder);

    // /run/ventoral for the real /sys; inside the fixture for any other root.
    static std::string folderFor(const std::string& sysfsRoot);

    std::optional<Original> recall(const std::string& channelId) const;
    // Keeps the first state remembered for a channel; false when it could not be stored.
    bool remember(const std::string& channelId, const Original& original);
    void forget(const std::string& channelId);

private:
    std::string pathFor(const std::string& channelId) const;
    std::string folder_;
};

} // namespace ventoral
