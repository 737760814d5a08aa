#include "platform/system/ProcessEnvironment.h"

#include "tests/support/ScopedEnvironment.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace ventoral {
namespace {

namespace fs = std::filesystem;

using ScopedEnv = testing::ScopedEnvironmentVariable;

fs::path makeTempDir() {
    auto dir = fs::temp_directory_path() / ("ventoral-proc-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
}

TEST(ProcessEnvironment, SettingsPointAtFixtures) {
    ASSERT_FALSE(isSetUserIdProcess());
    {
        ScopedEnv sys(EnvironmentSetting::sysfsRoot, "/tmp/fixture-sys");
        ScopedEnv proc(EnvironmentSetting::procRoot, "/tmp/fixture-proc");
        EXPECT_EQ(sysfsRoot(), "/tmp/fixture-sys");
        EXPECT_EQ(procRoot(), "/tmp/fixture-proc");
    }
    ScopedEnv sys(EnvironmentSetting::sysfsRoot, "");
    ScopedEnv proc(EnvironmentSetting::procRoot, nullptr);
    EXPECT_EQ(sysfsRoot(), "/sys");
    EXPECT_EQ(procRoot(), "/proc");
}

TEST(ProcessEnvironment, UptimeComesFromTheProcRoot) {
    auto dir = makeTempDir();
    std::ofstream(dir / "uptime") << "12345.67 24000.10\n";
    EXPECT_DOUBLE_EQ(systemUptimeSeconds(dir.string()), 12345.67);

    std::ofstream(dir / "uptime") << "garbage\n";
    EXPECT_GT(systemUptimeSeconds(dir.string()), 0.0); // the boot clock stands in
    fs::remove_all(dir);
}

TEST(ProcessEnvironment, OwnExecutableIsThisTestProgram) {
    EXPECT_EQ(fs::path(ownExecutablePath()).filename(), "platform_system_tests");
}

} // namespace
} // namespace ventoral
