#pragma once

#include "application/privileged/FanWriter.h"
#include "core/helper/InstallLayout.h"

#include <optional>
#include <string>
#include <vector>

namespace ventoral {

namespace HelperProcessText {
inline constexpr const char* helperExitCode = "Helper exit code: ";
inline constexpr const char* passwordRequired = "password is required";
} // namespace HelperProcessText

bool isValidUTF8(const std::string& text);
// The shortest decimal that reads back as the same float, always with a fraction: "1800.0".
std::string shortestSpeedText(float rpm);
bool isExecutableFile(const std::string& path);
bool isHelperSetuid(const std::string& path);
bool isHelperOwnedByRoot(const std::string& path);

// Where the helper program is: installed, beside this program, or in this project's build tree.
struct HelperLocator {
    InstallLayout layout;
    std::string ownExecutableFolder;
    std::string currentDirectory;

    // Beside this program or in the build tree.
    std::optional<std::string> bundledOrBuildHelper() const;
    // The one to run for a fan write: an installed set-user-id copy first.
    std::optional<std::string> helperToRun() const;
    // The one to install from: this program's own copy first.
    std::optional<std::string> installSource() const;
};

// Runs the helper with `arguments` and waits: directly when it is set-user-id, else through
// `sudo -n`. A refusal for want of rights (exit 2, or sudo asking for a password) is
// privilegedRequired; any other failure carries what the helper printed.
WriteResult runHelperProcess(const std::string& helperPath, bool isSetuid,
                             const std::vector<std::string>& arguments,
                             const std::string& sudoPath);

} // namespace ventoral
