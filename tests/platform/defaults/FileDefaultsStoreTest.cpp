#include "platform/defaults/FileDefaultsStore.h"

#include "core/presets/FanPresetManager.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnvironment.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

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

TEST_F(FileDefaultsStoreTest, WhatCannotBeUsedIsSaidAndKeptNeverHangs) {
    const std::string key = FanPresetManager::userDefaultsKey;
    const fs::path path = fs::path(folder_) / key;
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::string reason;
    };
    const Case cases[] = {
        {"a FIFO", [&] { ::mkfifo(path.c_str(), 0600); }, "is not a regular file"},
        {"a folder", [&] { fs::create_directories(path); }, "is not a regular file"},
        {"over 1 MB",
         [&] {
             std::ofstream(path) << std::string(FileDefaultsStore::maximumDocumentBytes + 1, ' ');
         },
         "is larger than 1 MB"},
        {"a link to nothing", [&] { fs::create_symlink(folder_ + "/gone", path); },
         "is a link to a file that does not exist"},
        {"a link to somebody else's file",
         [&] {
             std::ofstream(root_ / "theirs") << "[]";
             ASSERT_EQ(::chown((root_ / "theirs").c_str(), 65534, 65534), 0);
             fs::create_symlink(root_ / "theirs", path);
         },
         "is a link to a file that is not yours"},
    };
    for (const auto& c : cases) {
        if (geteuid() != 0 && std::string(c.name) == "a link to somebody else's file") {
            continue; // giving a file away needs root
        }
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        c.prepare();
        FileDefaultsStore store(folder_);
        EXPECT_EQ(store.read(key), (StoredValue{StoredValue::State::unusable, {}, c.reason}))
            << c.name;
        auto keptAs = store.setAside(key);
        ASSERT_TRUE(keptAs) << c.name;
        EXPECT_EQ(keptAs->rfind(key + ".unusable-", 0), 0u) << *keptAs;
        EXPECT_TRUE(fs::exists(fs::symlink_status(fs::path(folder_) / *keptAs))) << c.name;
        EXPECT_EQ(store.read(key).state, StoredValue::State::absent) << c.name;
        ASSERT_TRUE(store.setData(key, "[]")) << c.name;
        EXPECT_EQ(store.data(key), "[]") << c.name;
    }
    if (geteuid() == 0) {
        EXPECT_EQ(readFile((root_ / "theirs").string()), "[]"); // never written through
    }
}

TEST_F(FileDefaultsStoreTest, ALinkIntoTheUsersOwnFilesIsReadAndWrittenThrough) {
    fs::create_directories(folder_);
    const fs::path dotfiles = root_ / "dotfiles" / "presets.json";
    fs::create_directories(dotfiles.parent_path());
    std::ofstream(dotfiles) << "[]";
    const fs::path link = fs::path(folder_) / FanPresetManager::userDefaultsKey;
    fs::create_symlink(dotfiles, link);
    FileDefaultsStore store(folder_);
    EXPECT_EQ(store.data(FanPresetManager::userDefaultsKey), "[]");
    ASSERT_TRUE(store.setData(FanPresetManager::userDefaultsKey, "[1]"));
    EXPECT_TRUE(fs::is_symlink(link)); // the link stays a link
    EXPECT_EQ(readFile(dotfiles.string()), "[1]");
}

TEST_F(FileDefaultsStoreTest, OpeningClearsAwayWhatInterruptedWritesLeft) {
    fs::create_directories(folder_);
    const std::string key = FanPresetManager::activePresetKey;
    const fs::path stale = fs::path(folder_) / (key + ".tmp-AbC123");
    const fs::path fresh = fs::path(folder_) / (key + ".tmp-XyZ789");
    const fs::path foreign = fs::path(folder_) / "notes.tmp-AbC123x";
    for (const fs::path& file : {stale, fresh, foreign}) {
        std::ofstream(file) << "{";
    }
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(stale, old);
    fs::last_write_time(foreign, old);
    FileDefaultsStore store(folder_);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(fresh));   // a write may be under way
    EXPECT_TRUE(fs::exists(foreign)); // not this program's pattern
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
