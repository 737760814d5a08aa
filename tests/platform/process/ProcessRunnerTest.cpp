#include "platform/process/ProcessRunner.h"

#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

TEST(ProcessRunner, RunsByAbsolutePathWithAnEmptyEnvironment) {
    testing::ScopedEnvironmentVariable probe("VENTORAL_PROBE", "inherited");
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
}

} // namespace
} // namespace ventoral

namespace ventoral {
namespace {

TEST(ProcessRunner, BoundedRunsEndEveryWay) {
    struct Case {
        const char* script;
        double timeout;
        std::size_t limit;
        BoundedProcessOutcome outcome; // output compared by size when large
    };
    const Case cases[] = {
        {"printf '{\"a\":1}'; exit 0", 5, 1 << 20, {true, false, false, 0, "{\"a\":1}"}},
        {"printf partial; exit 3", 5, 1 << 20, {true, false, false, 3, "partial"}},
        {"echo err >&2; exit 0", 5, 1 << 20, {true, false, false, 0, ""}},
        {"printf early; sleep 10", 0.3, 1 << 20, {true, true, false, -1, "early"}},
        // Deaf to the polite request: killed.
        {"trap '' TERM; printf x; sleep 10", 0.3, 1 << 20, {true, true, false, -1, "x"}},
        {"kill -9 $$", 5, 1 << 20, {true, false, false, -1, ""}},
    };
    for (const auto& c : cases) {
        auto outcome = runProgramBounded("/bin/sh", {"-c", c.script}, c.timeout, c.limit);
        EXPECT_EQ(outcome.started, c.outcome.started) << c.script;
        EXPECT_EQ(outcome.timedOut, c.outcome.timedOut) << c.script;
        EXPECT_EQ(outcome.outputTooLarge, c.outcome.outputTooLarge) << c.script;
        EXPECT_EQ(outcome.exitStatus, c.outcome.exitStatus) << c.script;
        EXPECT_EQ(outcome.output, c.outcome.output) << c.script;
    }
    // Far more than a pipe holds is read while the child runs, and the limit ends it.
    auto huge = runProgramBounded("/bin/sh", {"-c", "head -c 50000000 /dev/zero"}, 10, 1 << 20);
    EXPECT_TRUE(huge.outputTooLarge);
    EXPECT_FALSE(huge.timedOut);
    auto big = runProgramBounded("/bin/sh", {"-c", "head -c 3000000 /dev/zero"}, 10, 1 << 24);
    EXPECT_EQ(big.exitStatus, 0);
    EXPECT_EQ(big.output.size(), 3000000u);
    EXPECT_FALSE(runProgramBounded("/nonexistent/profiler", {}, 1, 1).started);
    EXPECT_FALSE(runProgramBounded("sh", {"-c", "true"}, 1, 1).started);
}

} // namespace
} // namespace ventoral
