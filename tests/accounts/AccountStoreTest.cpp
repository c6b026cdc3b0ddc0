#include "accounts/AccountStore.h"
#include "accounts/Password.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

// Every path below root with its content ("<dir>" for folders, "-> target" for links).
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
        const std::string path = it->path().string();
        tree[path] = it->is_symlink()     ? "-> " + fs::read_symlink(path).string()
                     : it->is_directory() ? "<dir>"
                                          : ReadBytes(path);
    }
    return tree;
}

unsigned ModeOf(const std::string& path) {
    return static_cast<unsigned>(fs::status(path).permissions() & fs::perms::mask);
}

class AccountStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(spool);
        mdad.SetString("SpoolDir", spool);
    }
    std::string Folder(const std::string& name) const { return spool + "/" + name; }
    void MakeAccount(const std::string& name, const std::string& password,
                     const std::string& config) {
        fs::create_directory(Folder(name));
        WriteBytes(Folder(name) + "/password", password);
        WriteBytes(Folder(name) + "/config", config);
    }

    testutil::TempDir dir;
    std::string spool = dir / "spool";
    CConfigMap mdad;
    CAccountStore store{mdad};
    std::string password;
    CConfigMap config;
};

TEST_F(AccountStoreTest, CreateWritesAPrivateEncodedPasswordAndOnlyTheFlaggedKeys) {
    ASSERT_TRUE(store.CreateAccount("bob", "secret", AccountSettings{}));
    EXPECT_EQ(ReadBytes(Folder("bob/password")), "2c062bcb25e62ba42bcb2c68");
    if (testutil::kFilesHaveModes) {
        EXPECT_EQ(ModeOf(Folder("bob/password")), 0600u);
    }
    EXPECT_EQ(ReadBytes(Folder("bob/config")), "Password:\tkvcrypt\r\n");

    // Quota and MaxSize flagged, SaveEnvelope not.
    ASSERT_TRUE(store.CreateAccount("carol", "x", AccountSettings{6, 1, 50, 0}));
    ASSERT_TRUE(config.Load(Folder("carol/config")));
    EXPECT_EQ(config.GetCount(), 3u);
    EXPECT_EQ(config.GetString("Quota", ""), "50");
    EXPECT_EQ(config.GetString("MaxSize", ""), "0");
}

TEST_F(AccountStoreTest, CreateRefusesAnExistingAccountInAnyLetterCaseAndTouchesNothing) {
    MakeAccount("bob", "old", "Password: plain\r\n");
    fs::create_directory(Folder("Info.Example.Test"));
    WriteBytes(Folder("carol"), "a plain file");
    const auto before = Snapshot(dir.path());
    EXPECT_FALSE(store.CreateAccount("bob", "new", AccountSettings{}));
    EXPECT_FALSE(store.CreateAccount("info.example.test", "new", AccountSettings{}));
    EXPECT_FALSE(store.CreateAccount("carol", "new", AccountSettings{}));
    EXPECT_EQ(Snapshot(dir.path()), before);
}

TEST_F(AccountStoreTest, EveryOperationReadsTheSpoolDirectoryAfresh) {
    ASSERT_TRUE(store.CreateAccount("bob", "pw", AccountSettings{}));
    fs::create_directory(dir / "other");
    mdad.SetString("SpoolDir", dir / "other");
    EXPECT_TRUE(store.CreateAccount("bob", "pw", AccountSettings{}));
    EXPECT_TRUE(store.RemoveAccount("bob"));
    EXPECT_TRUE(fs::exists(Folder("bob/password")));
    mdad.SetString("SpoolDir", dir / "missing");
    EXPECT_FALSE(store.CreateAccount("carol", "pw", AccountSettings{}));
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(AccountStoreTest, ReadDecodesOnlyForKvcryptAndKeepsThePasswordWhenThereIsNone) {
    ASSERT_TRUE(store.CreateAccount("Info.Example.Test", "S3cret!", AccountSettings{}));
    ASSERT_TRUE(store.ReadAccount("Info.Example.Test", password, config));
    EXPECT_EQ(password, "S3cret!");
    // Without "Password: kvcrypt" (exactly) the first line is the password as it stands.
    MakeAccount("plain", "0061\r\nsecond line", "Password: KVCRYPT\r\n");
    ASSERT_TRUE(store.ReadAccount("plain", password, config));
    EXPECT_EQ(password, "0061");

    MakeAccount("empty", "", "Password: kvcrypt\r\n");
    EXPECT_TRUE(store.ReadAccount("empty", password, config));
    EXPECT_EQ(password, "0061");
    fs::remove(Folder("empty/password"));
    fs::remove(Folder("empty/config"));
    config.SetString("Password", "kvcrypt"); // what the map held before must not count
    EXPECT_TRUE(store.ReadAccount("empty", password, config));
    EXPECT_TRUE(config.IsEmpty());
    EXPECT_FALSE(store.ReadAccount("nobody", password, config));
}

TEST_F(AccountStoreTest, AFolderDifferingOnlyInCaseIsFoundUnlessThereAreSeveral) {
    MakeAccount("Info.Example.Test", "plain-pw", "");
    ASSERT_TRUE(store.ReadAccount("info.example.test", password, config));
    EXPECT_EQ(password, "plain-pw");
    // Two such folders need a file system that tells case apart; Windows' does not.
    if (fs::create_directory(Folder("INFO.example.test"))) {
        EXPECT_FALSE(store.RemoveAccount("info.example.test"));
        fs::remove(Folder("INFO.example.test"));
    }
    EXPECT_TRUE(store.RemoveAccount("info.example.test"));
    EXPECT_FALSE(fs::exists(Folder("Info.Example.Test")));
}

TEST_F(AccountStoreTest, ChangeRewritesThePasswordAndFlaggedKeysAndKeepsTheRest) {
    MakeAccount("bob", "old", "RunReply: 1\r\nPassword: plain\r\nQuota: 9\r\n");
    fs::permissions(Folder("bob/password"), fs::perms(0640));
    ASSERT_TRUE(store.ChangeAccount("bob", "new", AccountSettings{7, 1, 0, 0}));
    EXPECT_EQ(ReadBytes(Folder("bob/password")), EncodePassword("bob", "new"));
    if (testutil::kFilesHaveModes) { // a replaced file keeps its mode
        EXPECT_EQ(ModeOf(Folder("bob/password")), 0640u);
    }
    ASSERT_TRUE(config.Load(Folder("bob/config")));
    EXPECT_EQ(config.GetString("Password", ""), "kvcrypt");
    EXPECT_EQ(config.GetString("RunReply", ""), "1");
    EXPECT_EQ(config.GetString("SaveEnvelope", ""), "1");
    EXPECT_EQ(config.GetString("Quota", ""), "0");

    ASSERT_TRUE(store.ChangeAccount("bob", std::nullopt, AccountSettings{2, 0, 20, 0}));
    EXPECT_EQ(ReadBytes(Folder("bob/password")), EncodePassword("bob", "new"));
    ASSERT_TRUE(config.Load(Folder("bob/config")));
    EXPECT_EQ(config.GetString("Quota", ""), "20");

    // A link planted as "password" is replaced by a private file; its target stays.
    if (!testutil::CanMakeLinks())
        return;
    WriteBytes(dir / "victim", "precious");
    fs::remove(Folder("bob/password"));
    fs::create_symlink(dir / "victim", Folder("bob/password"));
    ASSERT_TRUE(store.ChangeAccount("bob", "pw", AccountSettings{}));
    EXPECT_EQ(ReadBytes(dir / "victim"), "precious");
    if (testutil::kFilesHaveModes) {
        EXPECT_EQ(ModeOf(Folder("bob/password")), 0600u);
    }
}

TEST_F(AccountStoreTest, LinksOutOfTheSpoolAreNeitherReadNorWrittenThrough) {
    KORVANE_NEEDS_LINKS();
    const std::string foreignConfig = "Password: plain\r\nQuota: 99\r\n";
    WriteBytes(dir / "outside.cfg", foreignConfig);
    WriteBytes(dir / "outside.pw", "foreign line\r\n");
    auto plantLinks = [&] {
        fs::create_directories(Folder("bob"));
        for (const char* name : {"config", "password"})
            fs::remove(Folder("bob/") + name);
        fs::create_symlink(dir / "outside.cfg", Folder("bob/config"));
        fs::create_symlink(dir / "outside.pw", Folder("bob/password"));
    };
    plantLinks();
    password = "before";
    ASSERT_TRUE(store.ReadAccount("bob", password, config));
    EXPECT_TRUE(config.IsEmpty());
    EXPECT_EQ(password, "before");

    // The map stays bound to the account's file: its save replaces the link.
    EXPECT_FALSE(store.LoadAccountConfig("bob", config));
    config.SetString("RunReply", "1");
    ASSERT_TRUE(config.Save(false));
    EXPECT_FALSE(fs::is_symlink(Folder("bob/config")));
    EXPECT_EQ(ReadBytes(Folder("bob/config")), "RunReply:\t1\r\n");

    plantLinks();
    ASSERT_TRUE(store.ChangeAccount("bob", std::nullopt, AccountSettings{2, 0, 5, 0}));
    EXPECT_EQ(ReadBytes(Folder("bob/config")), "Quota:\t5\r\n");
    EXPECT_EQ(ReadBytes(dir / "outside.cfg"), foreignConfig);
    EXPECT_EQ(ReadBytes(dir / "outside.pw"), "foreign line\r\n");

    // A folder swapped for a link after the load: the save fails and creates nothing outside.
    ASSERT_TRUE(store.LoadAccountConfig("bob", config));
    fs::create_directory(dir / "elsewhere");
    fs::rename(Folder("bob"), dir / "bob-moved");
    fs::create_directory_symlink(dir / "elsewhere", Folder("bob"));
    EXPECT_FALSE(config.Save(true));
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    fs::remove(Folder("bob"));
    fs::rename(dir / "bob-moved", Folder("bob"));

    // The reply template and other files read and written by name.
    fs::create_symlink(dir / "outside.cfg", Folder("bob/reply.emt"));
    WriteBytes(Folder("bob/own.emt"), "x");
    fs::create_symlink(Folder("bob/own.emt"), Folder("bob/inner.emt"));
    EXPECT_FALSE(store.MayReadAccountFile(Folder("bob/reply.emt")));
    EXPECT_TRUE(store.MayReadAccountFile(Folder("bob/inner.emt")));
    EXPECT_TRUE(store.MayWriteAccountFile(Folder("bob/reply.emt"))); // the write replaces it
    EXPECT_TRUE(store.MayWriteAccountFile(PathJoin(Folder("bob"), "new.emt")));
    for (const char* name : {"../../x.emt", "/tmp/x.emt", "..", "missing/x.emt"}) {
        EXPECT_FALSE(store.MayWriteAccountFile(PathJoin(Folder("bob"), name))) << name;
        EXPECT_FALSE(store.MayReadAccountFile(PathJoin(Folder("bob"), name))) << name;
    }
}

TEST_F(AccountStoreTest, RemoveDeletesTheWholeFolderButNoLinkTarget) {
    KORVANE_NEEDS_LINKS();
    fs::create_directories(dir / "outside/sub");
    WriteBytes(dir / "outside/sub/keep", "k");
    ASSERT_TRUE(store.CreateAccount("bob", "pw", AccountSettings{}));
    fs::create_directories(Folder("bob/inbox/deep"));
    WriteBytes(Folder("bob/inbox/deep/1.eml"), "mail");
    fs::create_directory_symlink(dir / "outside", Folder("bob/inbox/dirlink"));
    fs::create_symlink(dir / "outside/sub/keep", Folder("bob/filelink"));
    fs::create_symlink(dir / "nowhere", Folder("bob/dangling"));
    // A name PathJoin would take for a complete path of its own.
    WriteBytes(Folder("bob/c:keep"), "x");
    WriteBytes(Folder("c:keep"), "must stay");

    ASSERT_TRUE(store.RemoveAccount("bob"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Folder("bob"))));
    EXPECT_EQ(ReadBytes(dir / "outside/sub/keep"), "k");
    EXPECT_EQ(ReadBytes(Folder("c:keep")), "must stay");
    // An account folder that is itself a link goes as a link.
    fs::create_directory_symlink(dir / "outside", Folder("linked"));
    EXPECT_TRUE(store.RemoveAccount("linked"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Folder("linked"))));
    EXPECT_TRUE(fs::exists(dir / "outside/sub/keep"));
    EXPECT_FALSE(RemoveTree(Folder("c:keep"))); // a plain file is no folder
}

TEST_F(AccountStoreTest, HostileNamesNeverLeaveTheSpoolDirectory) {
    fs::create_directories(dir / "x");
    WriteBytes(dir / "x/victim", "v");
    fs::create_directory(Folder(".hidden"));
    MakeAccount("bob", "pw", "");
    const auto before = Snapshot(dir.path());
    std::vector<std::string> names = {"",          ".",       "..",    "../x",
                                      ".hidden",   "a/b",     "..\\x", "x\\y",
                                      "tab\there", "del\x7f", "/tmp",  "bob/../../x"};
    names.emplace_back("nul\0x", 5);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(store.CreateAccount(name, "pw", AccountSettings{}));
        EXPECT_FALSE(store.ChangeAccount(name, "pw", AccountSettings{}));
        EXPECT_FALSE(store.ReadAccount(name, password, config));
        EXPECT_FALSE(store.RemoveAccount(name));
    }
    EXPECT_EQ(Snapshot(dir.path()), before);
    for (const char* name : {"info.example.test", "a.", "c:x", "r\xe9n\xe9"})
        EXPECT_TRUE(IsValidAccountName(name)) << name;
}

} // namespace
