#pragma once

#include "core/smc/SMCError.h"

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>

namespace ventoral {

// A key's data type as the controller reports it, or why it could not be had.
struct SMCKeyLookup {
    std::optional<std::string> dataType;
    std::optional<SMCError> error;
};

// What the fan writes need of a controller connection. The application's service (caches,
// errors) and the helper's operator (no caches, plain results) both provide it, so both write
// fans by the same rules.
class SMCKeyAccess {
public:
    virtual ~SMCKeyAccess() = default;
    virtual SMCKeyLookup lookUpKey(const std::string& key) = 0;
    // A finite value, or nothing when the key is absent, unreadable or not a number.
    virtual std::optional<double> readFiniteNumber(const std::string& key) = 0;
    // Nothing on success.
    virtual std::optional<SMCError> writeKey(const std::string& key,
                                             std::span<const std::uint8_t> bytes,
                                             const std::string& dataType) = 0;
};

// The fan count a controller reports, clamped to what the force mask can address.
int fanCountFrom(std::optional<double> reported);
// The force mask as read, with one fan's bit set (manual) or cleared (automatic).
std::uint16_t forceMaskWith(double reportedMask, std::int64_t index, bool manual);

// Whether a listed fan is left as its user has it when automatic control is asked for it: on
// a controller that remembers which fans this program took (`taken`), a fan it never took.
bool isLeftToItsUser(const std::optional<std::set<std::int64_t>>& taken, std::int64_t index,
                     int fanCount);

// Mode key first, then the force mask; succeeds when either took the write. The error is the
// mask's, else the mode key's, else that the fan has no mode key.
std::optional<SMCError> writeFanModeKeys(SMCKeyAccess& access, std::int64_t index, bool manual);
// The target, clamped to the fan's bounds as read and encoded in the target key's own type.
std::optional<SMCError> writeFanTargetKey(SMCKeyAccess& access, std::int64_t index, float rpm);

struct FanResetOutcome {
    bool anyFanReset = false;
    std::optional<SMCError> lastFanError;
    bool hasMask = false;
    bool maskCleared = false;
};
// Every fan of `fanCount` back to automatic, then the whole force mask cleared.
FanResetOutcome resetFanKeys(SMCKeyAccess& access, int fanCount);

} // namespace ventoral
