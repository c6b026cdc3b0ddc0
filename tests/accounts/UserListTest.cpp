#include "accounts/UserList.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class UserListTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(spool);
        mdad.SetString("SpoolDir", spool);
    }
    std::vector<std::string> Names() const {
        auto names = users.GetNames();
        std::sort(names.begin(), names.end());
        return names;
    }

    testutil::TempDir dir;
    std::string spool = dir / "spool";
    CConfigMap mdad;
    CUserList users{mdad};
};

TEST_F(UserListTest, ListsAccountFoldersInLowerCaseAndNothingElse) {
    for (const char* name : {"Info.Example.Test", "bob", "BOB", "\xc4rger", ".hidden"})
        fs::create_directory(spool + "/" + name);
    if (!testutil::kWindows) // where "\\" is no separator
        fs::create_directory(spool + "/a\\b");
    testutil::WriteBytes(spool + "/plainfile", "");
    if (testutil::CanMakeLinks())
        fs::create_directory_symlink(dir.path(), spool + "/linked");

    ASSERT_TRUE(users.Refresh());
    EXPECT_EQ(Names(), (std::vector<std::string>{"bob", "info.example.test", "\xe4rger"}));
    EXPECT_EQ(users.GetCount(), 3u);
    EXPECT_TRUE(users.Contains("info.example.test"));
    EXPECT_FALSE(users.Contains("Info.Example.Test")); // look-ups are exact
}

// More folders than the listing looks ahead, with case twins and folders it leaves out among
// them: every account once, and the last names in the folder are not lost at the end.
TEST_F(UserListTest, ManyFoldersWithTwinsAreEachListedOnce) {
    std::vector<std::string> expected;
    for (int i = 0; i < 30; ++i) {
        const std::string name = "user" + std::to_string(100 + i);
        fs::create_directory(spool + "/" + name);
        expected.push_back(name);
        if (i % 7 == 3)
            fs::create_directory(spool + "/USER" + std::to_string(100 + i));
        if (i % 9 == 4)
            fs::create_directory(spool + "/.hidden" + std::to_string(i));
    }
    ASSERT_TRUE(users.Refresh());
    EXPECT_EQ(Names(), expected);
    EXPECT_EQ(users.GetCount(), expected.size());
}

TEST_F(UserListTest, RefreshFollowsTheDiskAndTheConfiguredSpool) {
    fs::create_directory(spool + "/bob");
    ASSERT_TRUE(users.Refresh());
    fs::remove(spool + "/bob");
    fs::create_directory(spool + "/carol");
    ASSERT_TRUE(users.Refresh());
    EXPECT_EQ(Names(), std::vector<std::string>{"carol"});
    // A spool that cannot be read is reported, not taken for one without accounts.
    mdad.SetString("SpoolDir", dir / "missing");
    EXPECT_FALSE(users.Refresh());
    EXPECT_EQ(users.GetCount(), 0u);
}

TEST_F(UserListTest, WatchCanBeRestartedAndRefreshLeavesItAlone) {
    fs::create_directories(spool + "/bob/inbox");
    ASSERT_TRUE(users.StartWatch());
    EXPECT_TRUE(users.StartWatch()); // drops the first watch instead of failing on it
    users.Refresh();
    EXPECT_TRUE(users.IsWatching());
}

TEST_F(UserListTest, UpdateFollowsTheSpoolThroughTheWatch) {
    KORVANE_NEEDS_LINKS();
    fs::create_directories(spool + "/bob");
    ASSERT_TRUE(users.StartWatch());
    ASSERT_TRUE(users.Refresh());
    // Mail arriving inside an account changes nothing; a folder made by another program, in
    // whatever case, appears; one removed goes; files and links in the spool are no accounts.
    testutil::WriteBytes(spool + "/bob/mail1", "x");
    fs::create_directory(spool + "/Carol");
    testutil::WriteBytes(spool + "/notes.txt", "x");
    fs::create_directory_symlink(spool + "/bob", spool + "/alias-of-bob");
    ASSERT_TRUE(users.Update());
    EXPECT_EQ(Names(), (std::vector<std::string>{"bob", "carol"}));
    fs::remove(spool + "/bob/mail1");
    fs::remove(spool + "/bob");
    ASSERT_TRUE(users.Update());
    EXPECT_EQ(Names(), std::vector<std::string>{"carol"});
    // A spool that vanishes is reported as Refresh reports it, at every look; one that comes
    // back is followed again.
    fs::remove_all(spool);
    EXPECT_FALSE(users.Update());
    EXPECT_FALSE(users.Update());
    EXPECT_EQ(users.GetCount(), 0u);
    fs::create_directories(spool + "/dave");
    bool changed = false;
    ASSERT_TRUE(users.Update(&changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(Names(), std::vector<std::string>{"dave"});
    fs::create_directory(spool + "/erin");
    ASSERT_TRUE(users.Update(&changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(Names(), (std::vector<std::string>{"dave", "erin"}));
    ASSERT_TRUE(users.Update(&changed));
    EXPECT_FALSE(changed);
}

TEST(UserListWatch, OnlyPasswordFilesDirectlyInAnAccountFolderMatter) {
    EXPECT_TRUE(CUserList::IsRelevantChange("bob\\password"));
    EXPECT_TRUE(CUserList::IsRelevantChange("info.example.test/PassWord"));
    EXPECT_FALSE(CUserList::IsRelevantChange("password"));
    EXPECT_FALSE(CUserList::IsRelevantChange("bob\\config"));
    EXPECT_FALSE(CUserList::IsRelevantChange("bob\\inbox\\password"));
}

} // namespace
