#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ventoral {

// The error of every SMC operation and privileged write; `what()` is the text shown to users.
class SMCError : public std::runtime_error {
public:
    // `platform`: not the controller's; a program could not be started, for example.
    enum class Kind {
        callFailed,
        keyNotFound,
        unsupportedType,
        writeFailed,
        privilegedRequired,
        platform
    };

    static SMCError callFailed(std::int32_t kernelReturn, std::uint8_t result);
    static SMCError keyNotFound(const std::string& key);
    static SMCError unsupportedType(const std::string& dataType);
    static SMCError writeFailed(const std::string& text);
    static SMCError privilegedRequired();
    static SMCError platform(const std::string& description);

    Kind kind() const { return kind_; }
    std::int32_t kernelReturn() const { return kernelReturn_; }
    std::uint8_t result() const { return result_; }
    // The key, data type or text the error carries.
    const std::string& payload() const { return payload_; }

    friend bool operator==(const SMCError& a, const SMCError& b) {
        return a.kind_ == b.kind_ && a.kernelReturn_ == b.kernelReturn_ && a.result_ == b.result_ &&
               a.payload_ == b.payload_;
    }

private:
    SMCError(Kind kind, std::string description, std::string payload, std::int32_t kernelReturn,
             std::uint8_t result);

    Kind kind_;
    std::string payload_;
    std::int32_t kernelReturn_;
    std::uint8_t result_;
};

} // namespace ventoral
