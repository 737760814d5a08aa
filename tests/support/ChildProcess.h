#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ventoral::testing {

struct CommandResult {
    int exitStatus = -1; // -1: killed or never started
    std::string out;
    std::string err;
};

// The environment a child starts with: this process's, with `set` applied ("" removes a name).
using EnvironmentChanges = std::map<std::string, std::string>;

// Runs a program to the end (killed after `timeoutSeconds`) and collects its output.
CommandResult runCommand(const std::vector<std::string>& argv, const EnvironmentChanges& set = {},
                         double timeoutSeconds = 20);

// A program left running in the background until stopped or destroyed.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string>& argv, const EnvironmentChanges& set = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool isRunning();
    // Sends `signal` and waits up to `timeoutSeconds`; returns the exit status (-1: by signal).
    int stop(int signal, double timeoutSeconds = 5);
    std::string output() const;
    std::string errorOutput() const;

private:
    pid_t pid_ = -1;
    std::string outPath_;
    std::string errPath_;
    std::optional<int> status_;
};

// A private folder for one test, removed with the object.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

bool waitUntil(const std::function<bool()>& condition, double timeoutSeconds);

// A whole file as text ("" when it cannot be read).
std::string readFile(const std::string& path);
// A shell script at `path` (folders made as needed) with `body` after the #! line.
void writeScript(const std::string& path, const std::string& body, mode_t mode = 0755);

} // namespace ventoral::testing
