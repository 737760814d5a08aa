#include "platform/process/ProcessRunner.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace ventoral {
namespace {

TEST(ProcessRunner, RunsByAbsolutePathWithAnEmptyEnvironment) {
    ::setenv("VENTORAL_PROBE", "inherited", 1);
    struct Case {
        std::string program;
        std::vector<std::string> arguments;
        ProcessOutcome outcome;
    };
    const Case cases[] = {
        {"/bin/sh", {"-c", "exit 0"}, {true, 0}},
        {"/bin/sh", {"-c", "exit 7"}, {true, 7}},
        // Nothing of the caller's environment reaches the child.
        {"/bin/sh", {"-c", "[ -z \"$HOME$VENTORAL_PROBE\" ] && exit 3"}, {true, 3}},
        {"/bin/sh", {"-c", "kill -9 $$"}, {true, -1}},
        {"sh", {"-c", "exit 0"}, {false, -1}}, // PATH is never searched
        {"/nonexistent/program", {}, {false, -1}},
    };
    for (const auto& c : cases) {
        auto outcome = runProgram(c.program, c.arguments, ProcessOutput::discard);
        EXPECT_EQ(outcome.started, c.outcome.started) << c.program << " " << c.arguments.back();
        EXPECT_EQ(outcome.exitStatus, c.outcome.exitStatus) << c.program;
    }
    EXPECT_TRUE(runProgram("/bin/true", {}, ProcessOutput::inherit).succeeded());
    ::unsetenv("VENTORAL_PROBE");
}

} // namespace
} // namespace ventoral
