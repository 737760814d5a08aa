#include "platform/defaults/FileDefaultsStore.h"

#include "core/presets/FanPresetManager.h"
#include "tests/support/ScopedEnvironment.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

namespace fs = std::filesystem;

class FileDefaultsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("ventoral-defaults-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        folder_ = (root_ / "config" / "com.tesvane.VentoralController").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root_, ignored);
    }

    fs::path root_;
    std::string folder_;
};

TEST_F(FileDefaultsStoreTest, StoresBytesExactlyInAPrivateFolder) {
    FileDefaultsStore store(folder_);
    EXPECT_FALSE(store.data("com.tesvane.activePreset.v1"));
    const std::string bytes("{\"a\":1}\n\0tail", 13);
    ASSERT_TRUE(store.setData("com.tesvane.activePreset.v1", bytes));
    EXPECT_EQ(store.data("com.tesvane.activePreset.v1"), bytes);
    ASSERT_TRUE(store.setData("com.tesvane.activePreset.v1", "x"));
    EXPECT_EQ(store.data("com.tesvane.activePreset.v1"), "x");
    struct stat info {};
    ASSERT_EQ(stat(folder_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    // Only the document itself is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(FileDefaultsStoreTest, RefusesKeysThatAreNotPlainFileNames) {
    FileDefaultsStore store(folder_);
    for (const char* key : {"", "../escape", "a/b", ".hidden", "sp ace"}) {
        EXPECT_FALSE(store.setData(key, "x")) << key;
        EXPECT_FALSE(store.data(key)) << key;
    }
    EXPECT_FALSE(fs::exists(root_ / "config" / "escape"));
}

TEST_F(FileDefaultsStoreTest, AFailedWriteKeepsTheOldDocument) {
    FileDefaultsStore store(folder_);
    ASSERT_TRUE(store.setData("key", "old"));
    if (geteuid() == 0) {
        // Root ignores folder permissions; a folder in place of the file makes rename fail.
        fs::remove(fs::path(folder_) / "key");
        fs::create_directories(fs::path(folder_) / "key" / "inside");
        EXPECT_FALSE(store.setData("key", "new"));
        EXPECT_TRUE(fs::is_directory(fs::path(folder_) / "key"));
    } else {
        fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(store.setData("key", "new"));
        fs::permissions(folder_, fs::perms::owner_all);
        EXPECT_EQ(store.data("key"), "old");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(FileDefaultsStoreTest, LeftoverTemporaryFileIsHarmless) {
    FileDefaultsStore store(folder_);
    ASSERT_TRUE(store.setData(FanPresetManager::activePresetKey, R"({"manualFixed":{}})"));
    std::ofstream(fs::path(folder_) /
                  (std::string(FanPresetManager::activePresetKey) + ".tmp-abc123"))
        << R"({"builtin":{"_0":"Tu)";
    FanPresetManager manager(std::make_shared<FileDefaultsStore>(folder_));
    EXPECT_EQ(manager.activeSelection(), ActivePresetSelection::manualFixed());
    manager.setActiveSelection(ActivePresetSelection::builtin(BuiltinPresetType::silent));
    FanPresetManager reopened(std::make_shared<FileDefaultsStore>(folder_));
    EXPECT_EQ(reopened.activeSelection(),
              ActivePresetSelection::builtin(BuiltinPresetType::silent));
}

TEST_F(FileDefaultsStoreTest, UserFolderFollowsXdgConfigHome) {
    testing::ScopedEnvironmentVariable home("HOME", "/tmp/home-fixture");
    {
        testing::ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", "/tmp/xdg-fixture");
        EXPECT_EQ(FileDefaultsStore::userFolder(),
                  "/tmp/xdg-fixture/com.tesvane.VentoralController");
    }
    testing::ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", "relative/path");
    EXPECT_EQ(FileDefaultsStore::userFolder(),
              "/tmp/home-fixture/.config/com.tesvane.VentoralController");
}

} // namespace
} // namespace ventoral
