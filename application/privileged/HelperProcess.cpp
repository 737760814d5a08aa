#include "application/privileged/HelperProcess.h"

#include "core/common/Format.h"
#include "platform/process/ProcessRunner.h"

#include <charconv>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {

bool isValidUTF8(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        if (c >= 0x80) {
            if ((c >> 5) == 0x6) {
                extra = 1;
            } else if ((c >> 4) == 0xE) {
                extra = 2;
            } else if ((c >> 3) == 0x1E) {
                extra = 3;
            } else {
                return false;
            }
        }
        if (n - i <= extra) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

std::string shortestSpeedText(float rpm) {
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, rpm, std::chars_format::fixed);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (text.find('.') == std::string::npos) {
        text += ".0";
    }
    return text;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool isHelperSetuid(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_uid == 0 && (st.st_mode & S_ISUID) != 0;
}

bool isHelperOwnedByRoot(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_uid == 0;
}

std::optional<std::string> HelperLocator::bundledOrBuildHelper() const {
    std::vector<std::string> candidates;
    if (!ownExecutableFolder.empty()) {
        candidates.push_back(ownExecutableFolder + "/VentoralHelper");
        // The application's place in this project's build tree, beside the helper's.
        candidates.push_back(ownExecutableFolder + "/../helper/VentoralHelper");
    }
    if (!currentDirectory.empty()) {
        for (const char* build :
             {"/build/debug/helper/VentoralHelper", "/build/release/helper/VentoralHelper",
              "/build/sanitize/helper/VentoralHelper"}) {
            candidates.push_back(currentDirectory + build);
        }
    }
    for (const std::string& candidate : candidates) {
        if (isExecutableFile(candidate)) {
            return std::filesystem::path(candidate).lexically_normal().string();
        }
    }
    return std::nullopt;
}

std::optional<std::string> HelperLocator::helperToRun() const {
    const std::string installed[] = {layout.daemonBinary(), layout.commandBinary()};
    for (const std::string& path : installed) {
        if (isExecutableFile(path) && isHelperSetuid(path)) {
            return path;
        }
    }
    if (auto bundled = bundledOrBuildHelper()) {
        return bundled;
    }
    for (const std::string& path : installed) {
        if (isExecutableFile(path)) {
            return path;
        }
    }
    return std::nullopt;
}

std::optional<std::string> HelperLocator::installSource() const {
    if (auto bundled = bundledOrBuildHelper()) {
        return bundled;
    }
    return helperToRun();
}

WriteResult runHelperProcess(const std::string& helperPath, bool isSetuid,
                             const std::vector<std::string>& arguments,
                             const std::string& sudoPath) {
    std::string program = helperPath;
    std::vector<std::string> argv = arguments;
    if (!isSetuid) {
        program = sudoPath;
        argv.insert(argv.begin(), {"-n", helperPath});
    }
    auto run = runProgramCapturingOutput(program, argv);
    if (!run.started) {
        return SMCError::platform(run.launchError);
    }
    if (run.exitStatus == 0) {
        return std::nullopt;
    }
    std::string message =
        isValidUTF8(run.output) ? std::string(trimWhitespace(run.output)) : std::string();
    if (message.empty()) {
        message = HelperProcessText::helperExitCode + std::to_string(run.exitStatus);
    }
    if (message.find(HelperProcessText::passwordRequired) != std::string::npos ||
        run.exitStatus == 2) {
        return SMCError::privilegedRequired();
    }
    return SMCError::writeFailed(message);
}

} // namespace ventoral
