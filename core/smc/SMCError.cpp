#include "core/smc/SMCError.h"

namespace ventoral {

SMCError::SMCError(Kind kind, std::string description, std::string payload,
                   std::int32_t kernelReturn, std::uint8_t result)
    : std::runtime_error(std::move(description)), kind_(kind), payload_(std::move(payload)),
      kernelReturn_(kernelReturn), result_(result) {}

SMCError SMCError::callFailed(std::int32_t kernelReturn, std::uint8_t result) {
    return {Kind::callFailed,
            "SMC call failed (kr: " + std::to_string(kernelReturn) +
                ", result: " + std::to_string(result) + ")",
            {},
            kernelReturn,
            result};
}

SMCError SMCError::keyNotFound(const std::string& key) {
    return {Kind::keyNotFound, "SMC key not found: " + key, key, 0, 0};
}

SMCError SMCError::unsupportedType(const std::string& dataType) {
    return {Kind::unsupportedType, "Unsupported SMC data type: " + dataType, dataType, 0, 0};
}

SMCError SMCError::writeFailed(const std::string& text) {
    return {Kind::writeFailed, "Failed to write SMC key: " + text, text, 0, 0};
}

SMCError SMCError::privilegedRequired() {
    return {
        Kind::privilegedRequired, "Root privileges required to modify SMC fan registers", {}, 0, 0};
}

SMCError SMCError::platform(const std::string& description) {
    return {Kind::platform, description, description, 0, 0};
}

} // namespace ventoral
