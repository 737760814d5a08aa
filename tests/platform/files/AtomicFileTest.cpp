#include "platform/files/AtomicFile.h"

#include "platform/system/ContestedFansNote.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnvironment.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace ventoral {
namespace {

using testing::readFile;
using testing::TemporaryFolder;
namespace fs = std::filesystem;

std::size_t entries(const std::string& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(AtomicFile, ReplacesTheFileWithTheModeAskedAndLeavesNothingBehind) {
    TemporaryFolder folder;
    const std::string path = folder.path() + "/settings";
    for (const auto& [text, mode] : {std::pair{std::string("first"), mode_t{0600}},
                                     std::pair{std::string("second\n", 7), mode_t{0644}}}) {
        std::string error;
        ASSERT_TRUE(writeFileAtomically(path, text, mode, &error)) << error;
        EXPECT_EQ(readFile(path), text);
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(entries(folder.path()), 1u);
    }
}

TEST(AtomicFile, AFailedWriteKeepsTheOldFileAndSaysWhy) {
    TemporaryFolder folder;
    std::string error;
    EXPECT_FALSE(writeFileAtomically(folder.path() + "/missing/settings", "x", 0600, &error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;

    // A folder in the way of the rename: the old one stays, the temporary is cleared away.
    const std::string blocked = folder.path() + "/blocked";
    fs::create_directories(blocked + "/inside");
    error.clear();
    EXPECT_FALSE(writeFileAtomically(blocked, "x", 0600, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(blocked + "/inside"));
    EXPECT_EQ(entries(folder.path()), 1u);
}

TEST(ContestedFansNote, WrittenReadAndGoneWhenEmpty) {
    TemporaryFolder runtime;
    const std::string folder = runtime.path() + "/com.tesvane.VentoralController";
    ContestedFansNote note(folder);
    EXPECT_TRUE(note.read().empty());
    note.write({"Fan A: why", "Fan B: why"});
    EXPECT_EQ(note.read(), (std::vector<std::string>{"Fan A: why", "Fan B: why"}));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    note.write({});
    EXPECT_TRUE(note.read().empty());
    EXPECT_FALSE(fs::exists(folder + "/contested-fans"));
    // No runtime folder: nothing kept, nothing read.
    testing::ScopedEnvironmentVariable unset("XDG_RUNTIME_DIR", nullptr);
    ContestedFansNote("").write({"Fan A"});
    EXPECT_TRUE(ContestedFansNote("").read().empty());
}

} // namespace
} // namespace ventoral
