#include "platform/process/ProcfsProcessTable.h"

#include "platform/process/DesktopApplications.h"
#include "tests/support/ChildProcess.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace ventoral {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryFolder;

std::string statLine(const std::string& name, int user, int system, int start) {
    std::string line = "4242 (" + name + ") S 1 4242 4242 0 -1 4194560 1 0 0 0 ";
    return line + std::to_string(user) + " " + std::to_string(system) + " 0 0 20 0 1 0 " +
           std::to_string(start) + " 1000 100";
}

TEST(ProcfsProcessTable, StatLines) {
    EXPECT_EQ(parseProcStat(statLine("bash", 150, 30, 9000)), (ProcStat{150, 30, 9000}));
    // A command name with blanks and parentheses of its own.
    EXPECT_EQ(parseProcStat(statLine("my (odd) prog", 1, 2, 3)), (ProcStat{1, 2, 3}));
    EXPECT_EQ(parseProcStat("4242 (cut) S 1 2 3"), std::nullopt);
    EXPECT_EQ(parseProcStat("4242 cut S"), std::nullopt);
    EXPECT_EQ(parseProcStat(statLine("x", -5, 2, 3)), std::nullopt);
    EXPECT_EQ(parseProcStat(""), std::nullopt);
}

class ProcFixture : public ::testing::Test {
protected:
    void process(int pid, const std::string& exe, int user, int system, int start,
                 uid_t owner = 0) {
        const std::string dir = proc.path() + "/" + std::to_string(pid);
        fs::create_directories(dir);
        std::ofstream(dir + "/stat") << statLine("p", user, system, start) << "\n";
        if (!exe.empty()) {
            fs::create_symlink(exe, dir + "/exe");
        }
        if (owner != 0) {
            ASSERT_EQ(::chown(dir.c_str(), owner, owner), 0);
        }
    }
    TemporaryFolder proc;
};

TEST_F(ProcFixture, TheUsersProcessesAndTheirCounters) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "owning a fixture folder as another user needs root";
    }
    process(100, "/usr/bin/editor", 250, 50, 7000);
    process(200, "/usr/bin/other", 1, 1, 1, 65534);
    process(300, "/opt/app/bin/app (deleted)", 0, 0, 8000);
    process(400, "", 0, 0, 9000);
    fs::create_directories(proc.path() + "/self");
    fs::create_directories(proc.path() + "/0");
    ProcfsProcessTable table(proc.path(), 0, 100);
    auto pids = table.listProcessIds(SIZE_MAX);
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<std::int32_t>{100, 300, 400}));
    EXPECT_EQ(table.processListBytes(), 12);
    EXPECT_EQ(table.listProcessIds(2).size(), 2u);
    auto usage = table.usage(100);
    ASSERT_TRUE(usage);
    EXPECT_EQ(usage->cpuNanoseconds, 3'000'000'000u); // 300 ticks at 100 a second
    EXPECT_EQ(usage->startTime, 7000u);
    EXPECT_EQ(usage->energyNanojoules, 0u);
    EXPECT_EQ(table.executablePath(100), "/usr/bin/editor");
    EXPECT_EQ(table.executablePath(300), "/opt/app/bin/app"); // replaced while running
    EXPECT_EQ(table.executablePath(400), std::nullopt);
    fs::remove_all(proc.path() + "/100"); // ended between the listing and the read
    EXPECT_EQ(table.usage(100), std::nullopt);
    EXPECT_EQ(table.executablePath(100), std::nullopt);
    EXPECT_EQ(ProcfsProcessTable(proc.path() + "/missing", 0, 100).processListBytes(), 0);
}

TEST(DesktopEntries, Parsing) {
    auto find = [](const std::string& program) -> std::optional<std::string> {
        if (program == "editor" || program == "/usr/bin/editor") {
            return "/opt/editor/bin/editor";
        }
        if (program == "player") {
            return "/usr/bin/player";
        }
        return std::nullopt;
    };
    struct Case {
        std::string text;
        std::optional<DesktopEntry> entry;
    };
    const std::string head = "[Desktop Entry]\nType=Application\n";
    const Case cases[] = {
        {head + "Name=Editor\nName[de]=Bearbeiter\nExec=editor %F\n",
         DesktopEntry{"Bearbeiter", "/opt/editor"}},
        {head + "Name=Player\nName[de_DE]=Spieler DE\nName[de]=Spieler\nExec=env A=1 B=2 player\n",
         DesktopEntry{"Spieler DE", "/usr/bin/player"}},
        {head + "Exec=\"/usr/bin/editor\" --new-window\n", DesktopEntry{"editor", "/opt/editor"}},
        {head + "Name=Hidden\nExec=editor\nNoDisplay=true\n", std::nullopt},
        {head + "Name=Gone\nExec=editor\nHidden=true\n", std::nullopt},
        {"[Desktop Entry]\nType=Link\nName=Web\nURL=https://example.org\n", std::nullopt},
        {head + "Name=Missing\nExec=not-installed\n", std::nullopt},
        {head + "Name=Empty\nExec=\n", std::nullopt},
        {"[Desktop Action new]\nExec=editor\n" + head + "Name=Late\n", std::nullopt},
        {"", std::nullopt},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(parseDesktopEntry(c.text, "de_DE.UTF-8", find), c.entry) << row++;
    }
}

TEST(DesktopEntries, Bundles) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/editor/bin/editor", "/opt/editor"},
        {"/usr/lib/firefox/firefox", "/usr/lib/firefox"},
        {"/usr/lib/x86_64-linux-gnu/webkit2gtk-4.0/WebKitWebProcess",
         "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.0"},
        {"/usr/share/code/code", "/usr/share/code"},
        {"/usr/bin/gedit", "/usr/bin/gedit"},
        {"/opt/tool", "/opt/tool"}, // a program straight in /opt is its own bundle
        {"/home/me/bin/script", "/home/me/bin/script"},
    };
    for (auto [program, bundle] : cases) {
        EXPECT_EQ(bundleOf(program), bundle) << program;
    }
}

TEST(DesktopApplications, OnlyApplicationsWithARunningProgram) {
    TemporaryFolder home;
    const std::string bin = home.path() + "/bin";
    fs::create_directories(bin);
    for (const char* program : {"editor", "player", "idle"}) {
        std::ofstream(bin + "/" + program) << "#!/bin/sh\n";
        fs::permissions(bin + "/" + program, fs::perms::owner_all);
    }
    const std::string apps = home.path() + "/applications";
    fs::create_directories(apps);
    auto entry = [&](const char* file, const std::string& text) {
        std::ofstream(apps + "/" + file) << "[Desktop Entry]\nType=Application\n" << text;
    };
    entry("editor.desktop", "Name=Editor\nExec=editor %U\n");
    entry("player.desktop", "Name=Player\nExec=" + bin + "/player\n");
    entry("idle.desktop", "Name=Idle\nExec=idle\n");
    entry("notes.txt", "Name=Not an entry\nExec=editor\n");

    TemporaryFolder proc;
    auto run = [&](int pid, const std::string& exe) {
        fs::create_directories(proc.path() + "/" + std::to_string(pid));
        fs::create_symlink(exe, proc.path() + "/" + std::to_string(pid) + "/exe");
    };
    run(10, bin + "/editor");
    run(11, bin + "/player");

    DesktopApplications desktop({{apps}, {bin}, "C", proc.path(), geteuid()});
    auto running = desktop.list();
    std::sort(running.begin(), running.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    EXPECT_EQ(running, (std::vector<RunningApplication>{{bin + "/editor", "Editor"},
                                                        {bin + "/player", "Player"}}));

    run(12, bin + "/idle");
    EXPECT_EQ(desktop.list().size(), 3u);
}

} // namespace
} // namespace ventoral
