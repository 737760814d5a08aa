#include "core/smc/SMCFanControl.h"

#include "core/smc/SMCKeys.h"
#include "core/smc/SMCProtocol.h"

#include <algorithm>
#include <cmath>

namespace ventoral {

int fanCountFrom(std::optional<double> reported) {
    if (!reported || !std::isfinite(*reported)) {
        return 0;
    }
    // Clamped before the conversion: a wild count must not overflow it.
    return static_cast<int>(std::clamp(std::trunc(*reported), 0.0, 16.0));
}

std::uint16_t forceMaskWith(double reportedMask, std::int64_t index, bool manual) {
    auto mask = static_cast<std::uint16_t>(std::trunc(std::clamp(reportedMask, 0.0, 65535.0)));
    const auto bit = static_cast<std::uint16_t>(1u << index);
    return manual ? static_cast<std::uint16_t>(mask | bit)
                  : static_cast<std::uint16_t>(mask & ~bit);
}

bool isLeftToItsUser(const std::optional<std::set<std::int64_t>>& taken, std::int64_t index,
                     int fanCount) {
    return taken && !taken->contains(index) && isFanIndex(index) && index < fanCount;
}

std::optional<SMCError> writeFanModeKeys(SMCKeyAccess& access, std::int64_t index, bool manual) {
    const std::string modeKey = SMCKey::fan(index, SMCKey::FanField::mode);
    if (!isFanIndex(index)) {
        return SMCError::keyNotFound(modeKey);
    }
    bool modeWritten = false;
    std::optional<SMCError> modeError;
    if (access.lookUpKey(modeKey).dataType) {
        const std::uint8_t byte = manual ? 1 : 0;
        modeError = access.writeKey(modeKey, std::span(&byte, 1), SMCType::ui8);
        modeWritten = !modeError;
    }
    std::optional<SMCError> maskError;
    if (auto mask = access.readFiniteNumber(SMCKey::forceMask)) {
        const auto bytes = bigEndianBytes(forceMaskWith(*mask, index, manual));
        maskError = access.writeKey(SMCKey::forceMask, bytes, SMCType::ui16);
        if (!maskError) {
            return std::nullopt;
        }
    }
    if (modeWritten) {
        return std::nullopt;
    }
    if (maskError) {
        return maskError;
    }
    if (modeError) {
        return modeError;
    }
    return SMCError::keyNotFound(modeKey);
}

std::optional<SMCError> writeFanTargetKey(SMCKeyAccess& access, std::int64_t index, float rpm) {
    const std::string targetKey = SMCKey::fan(index, SMCKey::FanField::target);
    if (!isFanIndex(index)) {
        return SMCError::keyNotFound(targetKey);
    }
    if (!std::isfinite(rpm)) {
        return SMCError::writeFailed(targetKey);
    }
    const double value =
        clampTargetRPM(rpm, access.readFiniteNumber(SMCKey::fan(index, SMCKey::FanField::minimum)),
                       access.readFiniteNumber(SMCKey::fan(index, SMCKey::FanField::maximum)));
    const SMCKeyLookup target = access.lookUpKey(targetKey);
    if (!target.dataType) {
        return target.error.value_or(SMCError::keyNotFound(targetKey));
    }
    return access.writeKey(targetKey, encodeTargetRPM(value, *target.dataType), *target.dataType);
}

FanResetOutcome resetFanKeys(SMCKeyAccess& access, int fanCount) {
    FanResetOutcome outcome;
    for (int i = 0; i < fanCount; ++i) {
        if (auto error = writeFanModeKeys(access, i, false)) {
            outcome.lastFanError = error;
        } else {
            outcome.anyFanReset = true;
        }
    }
    outcome.hasMask = access.lookUpKey(SMCKey::forceMask).dataType.has_value();
    if (outcome.hasMask) {
        const std::array<std::uint8_t, 2> zero{0, 0};
        outcome.maskCleared = !access.writeKey(SMCKey::forceMask, zero, SMCType::ui16);
    }
    return outcome;
}

} // namespace ventoral
