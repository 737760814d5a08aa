#pragma once

#include <string>
#include <vector>

namespace ventoral {

struct ProcessOutcome {
    bool started = false;
    int exitStatus = -1; // -1 when it did not start or did not exit normally

    bool succeeded() const { return started && exitStatus == 0; }
};

enum class ProcessOutput { inherit, discard };

// Runs a program by absolute path with an empty environment and waits for it. A relative
// path is refused: a root process must not search PATH.
ProcessOutcome runProgram(const std::string& absolutePath,
                          const std::vector<std::string>& arguments, ProcessOutput output);

struct BoundedProcessOutcome {
    bool started = false;
    bool timedOut = false;
    bool outputTooLarge = false;
    int exitStatus = -1;
    std::string output;
};

// Runs a program by absolute path with an empty environment, collecting its standard output
// (standard error discarded) while it runs. A run that outlasts `timeoutSeconds` or writes more
// than `outputLimit` bytes is ended (terminated, then killed) and reaped.
BoundedProcessOutcome runProgramBounded(const std::string& absolutePath,
                                        const std::vector<std::string>& arguments,
                                        double timeoutSeconds, std::size_t outputLimit);

struct CapturedProcessOutcome {
    bool started = false;
    std::string launchError; // why it could not start
    int exitStatus = -1;
    std::string output; // standard output and standard error, as they came
};

// Runs a program by absolute path with an empty environment, both output streams into one
// pipe, read to the end; then waits for it. No time limit: callers that need one wait for it
// on another thread.
CapturedProcessOutcome runProgramCapturingOutput(const std::string& absolutePath,
                                                 const std::vector<std::string>& arguments);

} // namespace ventoral
