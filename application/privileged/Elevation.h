#pragma once

#include <functional>
#include <string>

namespace ventoral {

namespace ElevationText {
inline constexpr const char* promptDismissed = "The administrator prompt was dismissed.";
} // namespace ElevationText

// The outcome of one shell command run as root after asking the user.
struct ElevationOutcome {
    enum class Kind { succeeded, failed, unavailable };
    Kind kind = Kind::unavailable;
    std::string message; // for `failed`: what the prompt or the command said
};
using ElevationRunner = std::function<ElevationOutcome(const std::string& shellCommand)>;

// polkit's pkexec running `/bin/sh -c shellCommand`.
ElevationOutcome runWithPkexec(const std::string& pkexecPath, const std::string& shellCommand);

// The shell's single-quoted form of `text`.
std::string shellQuoted(const std::string& text);

} // namespace ventoral
