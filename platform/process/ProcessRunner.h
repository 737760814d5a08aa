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

} // namespace ventoral
