#include "helper/install/HelperInstaller.h"

#include "tests/support/ChildProcess.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryFolder;
using testing::writeScript;

// A systemctl that logs its arguments under the prefix (it starts with an empty environment,
// so the prefix comes from its own path) and fails "enable" when told to by a marker file.
void installFakeSystemctl(const std::string& prefix) {
    writeScript(prefix + "/usr/bin/systemctl", R"(prefix="${0%/usr/bin/systemctl}"
echo "$* HOME=${HOME-unset}" >> "$prefix/systemctl.log"
if [ "$1" = enable ] && [ -e "$prefix/enable-fails" ]; then exit 1; fi
exit 0
)");
}

struct Installation {
    TemporaryFolder folder;
    InstallLayout layout{folder.path()};
    std::string source = folder.path() + "/build/VentoralHelper";
    std::ostringstream out, err;

    Installation() { writeScript(source, "echo helper\n"); }
    bool install(uid_t euid = 0, std::string from = "") {
        return installHelperFiles({layout, from.empty() ? source : from, euid, 4242, err, out});
    }
    std::string log() const { return testing::readFile(folder.path() + "/systemctl.log"); }
};

bool rootRun() {
    return geteuid() == 0;
}

TEST(HelperInstaller, InstallsBothCopiesSetuidRootAndStartsTheUnit) {
    if (!rootRun()) {
        GTEST_SKIP() << "installing needs root";
    }
    Installation i;
    installFakeSystemctl(i.layout.prefix);
    ASSERT_TRUE(i.install()) << i.err.str();

    for (const std::string& copy : {i.layout.daemonBinary(), i.layout.commandBinary()}) {
        struct stat st {};
        ASSERT_EQ(::stat(copy.c_str(), &st), 0) << copy;
        EXPECT_EQ(st.st_mode & 07777, 04755u) << copy;
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(st.st_gid, 0u);
        EXPECT_EQ(testing::readFile(copy), testing::readFile(i.source));
        EXPECT_FALSE(fs::exists(copy + ".tmp.4242"));
    }
    for (const auto& [file, text] : {std::pair{i.layout.unitFile(), systemdUnitText()},
                                     std::pair{i.layout.policyFile(), dbusPolicyText()},
                                     std::pair{i.layout.polkitFile(), polkitActionsText()}}) {
        EXPECT_EQ(testing::readFile(file), text);
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u);
    }
    EXPECT_EQ(i.log(), "daemon-reload HOME=unset\n"
                       "enable --now com.tesvane.smchelper.service HOME=unset\n");
    EXPECT_EQ(i.out.str(), "VentoralHelper installed successfully to " + i.layout.prefix +
                               "/usr/local/libexec/com.tesvane.smchelper with setuid root.\n");
    EXPECT_EQ(i.err.str(), "");
}

TEST(HelperInstaller, UnitRunsTheDaemonCopyAndPolicyGuardsTheName) {
    const std::string unit = systemdUnitText();
    EXPECT_NE(unit.find("\nExecStart=/usr/local/libexec/com.tesvane.smchelper\n"),
              std::string::npos);
    EXPECT_NE(unit.find("\nRestart=always\n"), std::string::npos);
    // Even a killed daemon leaves the fans automatic.
    EXPECT_NE(unit.find("\nExecStopPost=/usr/local/libexec/com.tesvane.smchelper hand-back\n"),
              std::string::npos);
    EXPECT_NE(unit.find("\nWantedBy=multi-user.target\n"), std::string::npos);
    EXPECT_NE(unit.find("\nBusName=com.tesvane.smchelper\n"), std::string::npos);
    // The measured fan limits outlive boots, and the application reads them as its user.
    EXPECT_NE(unit.find("\nStateDirectory=ventoral\nStateDirectoryMode=0755\n"), std::string::npos);
    const std::string policy = dbusPolicyText();
    EXPECT_NE(policy.find("<policy user=\"root\">\n    <allow own=\"com.tesvane.smchelper\"/>"),
              std::string::npos);
    EXPECT_NE(policy.find("<deny own=\"com.tesvane.smchelper\"/>"), std::string::npos);
}

TEST(HelperInstaller, PolkitActionsAllowTheActiveSessionAndAskEveryoneElse) {
    testing::TemporaryFolder folder;
    const std::string file = folder.path() + "/com.tesvane.smchelper.policy";
    std::ofstream(file) << polkitActionsText();
    auto lint = testing::runCommand({"/usr/bin/xmllint", "--noout", file});
    EXPECT_EQ(lint.exitStatus, 0) << lint.err;
    const std::string text = polkitActionsText();
    for (const char* action :
         {"com.tesvane.smchelper.control-fans", "com.tesvane.smchelper.switch-power-profile"}) {
        const auto at = text.find(std::string("<action id=\"") + action + "\">");
        ASSERT_NE(at, std::string::npos) << action;
        const std::string body = text.substr(at, text.find("</action>", at) - at);
        EXPECT_NE(body.find("<allow_active>yes</allow_active>"), std::string::npos) << action;
        EXPECT_NE(body.find("<allow_any>auth_admin</allow_any>"), std::string::npos) << action;
        EXPECT_NE(body.find("<allow_inactive>auth_admin</allow_inactive>"), std::string::npos)
            << action;
    }
}

TEST(HelperInstaller, ReinstallingReplacesTheCopiesAndFallsBackToRestart) {
    if (!rootRun()) {
        GTEST_SKIP() << "installing needs root";
    }
    Installation i;
    installFakeSystemctl(i.layout.prefix);
    ASSERT_TRUE(i.install());
    writeScript(i.source, "echo newer helper\n");
    std::ofstream(i.layout.daemonBinary() + ".tmp.4242") << "leftover";
    std::ofstream(i.layout.prefix + "/enable-fails");
    fs::remove(i.layout.prefix + "/systemctl.log");

    ASSERT_TRUE(i.install()) << i.err.str();
    EXPECT_EQ(testing::readFile(i.layout.daemonBinary()), "#!/bin/sh\necho newer helper\n");
    EXPECT_EQ(testing::readFile(i.layout.commandBinary()), "#!/bin/sh\necho newer helper\n");
    EXPECT_FALSE(fs::exists(i.layout.daemonBinary() + ".tmp.4242"));
    EXPECT_EQ(i.log(), "daemon-reload HOME=unset\n"
                       "enable --now com.tesvane.smchelper.service HOME=unset\n"
                       "restart com.tesvane.smchelper.service HOME=unset\n");
}

TEST(HelperInstaller, InstallingFromTheInstalledCopySkipsItsCopyButFixesItsMode) {
    if (!rootRun()) {
        GTEST_SKIP() << "installing needs root";
    }
    Installation i;
    installFakeSystemctl(i.layout.prefix);
    ASSERT_TRUE(i.install());
    const std::string daemon = i.layout.daemonBinary();
    ::chmod(daemon.c_str(), 0700);
    struct stat before {};
    ::stat(daemon.c_str(), &before);

    ASSERT_TRUE(i.install(0, daemon)) << i.err.str();
    struct stat after {};
    ::stat(daemon.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino); // not copied over itself
    EXPECT_EQ(after.st_mode & 07777, 04755u);
}

TEST(HelperInstaller, WithoutSystemctlTheFilesAreStillInstalled) {
    if (!rootRun()) {
        GTEST_SKIP() << "installing needs root";
    }
    Installation i;
    ASSERT_TRUE(i.install());
    EXPECT_TRUE(fs::exists(i.layout.unitFile()));
    EXPECT_NE(i.err.str().find("systemctl could not be started"), std::string::npos);
}

TEST(HelperInstaller, FailuresStopAtTheFirstFileStep) {
    Installation user;
    EXPECT_FALSE(user.install(1000));
    EXPECT_EQ(user.err.str(), "Error: Helper installation requires root privileges.\n");
    EXPECT_FALSE(fs::exists(user.layout.prefix + "/usr"));
    EXPECT_FALSE(fs::exists(user.layout.prefix + "/etc"));

    if (!rootRun()) {
        return;
    }
    Installation blocked;
    std::ofstream(blocked.layout.prefix + "/usr"); // a file where a folder must go
    EXPECT_FALSE(blocked.install());
    EXPECT_EQ(blocked.err.str().rfind("Installation failed: ", 0), 0u) << blocked.err.str();
    EXPECT_FALSE(fs::exists(blocked.layout.prefix + "/etc/systemd"));

    Installation missingSource;
    EXPECT_FALSE(missingSource.install(0, missingSource.layout.prefix + "/nothing"));
    EXPECT_EQ(missingSource.err.str().rfind("Installation failed: ", 0), 0u);
    EXPECT_FALSE(fs::exists(missingSource.layout.unitFile()));
}

} // namespace
} // namespace ventoral
