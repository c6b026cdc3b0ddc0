// What korvanectl set lets into a file (the checks of the page that owns a key) and what the
// configuration check says about the spool and the list files, on the sample installation and
// on faults made in a temporary copy of it.
#include "pages/KeyOwners.h"
#include "pages/ConfigCheck.h"

#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testutil::WriteBytes;

const fs::path kSample = fs::path(__FILE__).parent_path().parent_path().parent_path() / "sample";
const char* const kCfgFiles[] = {"smtpd.cfg", "pop3d.cfg", "imap4d.cfg", "syslogd.cfg", "mdad.cfg"};

CConfigMap& MapOf(CConfigSet& set, const std::string& name) {
    for (const CConfigSet::File& file : set.Files())
        if (name == file.name)
            return *dynamic_cast<CConfigMap*>(file.map);
    throw std::logic_error(name);
}

class KeyOwnersTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kCfgFiles)
            ASSERT_TRUE(MapOf(set, name).Load((kSample / "config" / name).string())) << name;
    }
    bool Accepted(const std::string& file, const std::string& key, const std::string& value,
                  bool force = false) {
        return !keyowners::Refusal(set, file, key, value, force);
    }
    CConfigSet set;
};

// A key the sample holds with no page to own it would be refused from now on.
TEST_F(KeyOwnersTest, EveryKeyOfTheSampleIsOwned) {
    for (const char* name : kCfgFiles) {
        const CConfigMap& map = MapOf(set, name);
        for (auto position = map.GetStartPosition(); position;) {
            std::string key;
            std::string value;
            map.GetNextAssoc(position, key, value);
            const auto refusal = keyowners::Refusal(set, name, key, value, false);
            EXPECT_FALSE(refusal) << name << " " << key << ": " << *refusal;
        }
    }
}

TEST_F(KeyOwnersTest, ValuesPassThePagesRules) {
    set.smtpd.SetString("Interface", "*:25,mail.intern:587");
    struct Case {
        const char* file;
        const char* key;
        const char* value;
        bool accepted;
    };
    const Case cases[] = {
        {"smtpd.cfg", "MaxThreads", "12", true},
        {"smtpd.cfg", "MaxThreads", " 12", false},
        {"smtpd.cfg", "MaxThreads", "12 ", false},
        {"smtpd.cfg", "MaxThreads", "+12", false},
        {"mdad.cfg", "AutoTransRetry", "\t30", false},
        {"smtpd.cfg", "Interface", "*:25, 127.0.0.1:465s,*", true},
        {"smtpd.cfg", "Interface", "*:99999", false},
        {"smtpd.cfg", "Interface", "*:25x", false},
        {"smtpd.cfg", "Interface", "*:-1", false},
        {"smtpd.cfg", "Interface", "*:25,", true}, // an empty tail is no entry
        {"smtpd.cfg", "Interface", "*:25, ,*:26", false},
        {"smtpd.cfg", "Interface", "<alle>:25", false},
        {"pop3d.cfg", "Interface", "host.example.test:110", false},
        {"smtpd.cfg", "Interface", "mail.intern:2525", true}, // its address is kept
        {"imap4d.cfg", "Interface", "", true},
        {"syslogd.cfg", "Interface", "10.0.0.1", true},
        {"syslogd.cfg", "Interface", "<alle>", true},
        {"syslogd.cfg", "Interface", "*", false},
        {"syslogd.cfg", "Interface", "10.0.0.256", false},
        {"syslogd.cfg", "Port", "70000", false},
        {"syslogd.cfg", "AllowAccess", "10.0.0.0/255.0.0.0,127.0.0.1/255.255.255.255", true},
        {"syslogd.cfg", "AllowAccess", "10.0.0.0", false},
        {"syslogd.cfg", "AllowAccess", "10.0.0.0/255.0.0", false},
        {"smtpd.cfg", "AllowRelay", "anywhere/0.0.0.0", false},
        {"smtpd.cfg", "DnsBlocklists", "bl.example.test", true},
        {"smtpd.cfg", "AccessRelayFile", "relay.list", true},
        {"pop3d.cfg", "GibtsNicht", "1", false},
        {"pop3d.cfg", "GibtsNicht", "", true}, // removing it is always allowed
        {"syslogd.cfg", "SpoolDir", "/tmp", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Accepted(c.file, c.key, c.value), c.accepted)
            << c.file << " " << c.key << "=\"" << c.value << "\"";
    EXPECT_TRUE(Accepted("smtpd.cfg", "GibtsNicht", "1", true));
    EXPECT_EQ(
        keyowners::Refusal(set, "smtpd.cfg", "GibtsNicht", "1").value_or(""),
        "Den Schl\xFCssel \"GibtsNicht\" kennt keine Seite des Konfigurationsprogramms f\xFCr "
        "smtpd.cfg; mit --force wird er trotzdem gesetzt.");
    EXPECT_NE(keyowners::Refusal(set, "smtpd.cfg", "Interface", "*:99999")->find("65535"),
              std::string::npos);
}

class CheckTest : public testing::Test {
protected:
    void SetUp() override {
        fs::copy(kSample / "config", config);
        fs::copy(kSample / "spool", spool, fs::copy_options::recursive);
        ::setenv("MAILCONFIGDIR", config.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("MAILCONFIGDIR"); }
    // The findings of the given code, each as "key: text".
    std::vector<std::string> Found(const char* code) {
        CConfigSet set;
        set.mdad.SetString("SpoolDir", spool);
        set.domains.Load(config + "/domains");
        set.users.Refresh();
        set.aliases.Load(config + "/aliases");
        std::vector<std::string> found;
        for (const CFinding& finding : CheckConfiguration(set, {"example.test", config}))
            if (finding.code == std::string_view(code))
                found.push_back(finding.key + ": " + finding.text);
        return found;
    }
    testutil::TempDir dir;
    std::string config = dir / "config";
    std::string spool = dir / "spool";
};

TEST_F(CheckTest, LeftoverAndSetAsideFoldersAreNamed) {
    for (const char* code : {"account-without-address", "account-removal-pending"})
        EXPECT_TRUE(Found(code).empty()) << code;

    fs::create_directory(spool + "/lost.example.test");
    fs::create_directory(spool + "/bob.dept.beispiel.test");
    fs::create_directory(spool + "/fremd.other.test");
    fs::create_directory(spool + "/.removed-anna.beispiel.test-2");
    WriteBytes(spool + "/.removed-file", "a file, no folder");
    WriteBytes(config + "/aliases", "postmaster:\tpostmaster.example.test\r\n"
                                    "info:\tinfo.example.test\r\nanna:\tanna.beispiel.test\r\n");
    const std::vector<std::string> orphans = Found("account-without-address");
    ASSERT_EQ(orphans.size(), 3u);
    EXPECT_NE(orphans[0].find("korvanectl account add bob.dept@beispiel.test"), std::string::npos)
        << orphans[0];
    EXPECT_NE(orphans[1].find("keine lokale Domain"), std::string::npos) << orphans[1];
    EXPECT_NE(orphans[2].find("korvanectl account add lost@example.test"), std::string::npos)
        << orphans[2];
    const std::vector<std::string> aside = Found("account-removal-pending");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_NE(aside[0].find("wieder in \"anna.beispiel.test\" umbenannt"), std::string::npos)
        << aside[0];

    // Past fifty, the rest are counted.
    for (int i = 0; i < 60; ++i)
        fs::create_directory(spool + "/x" + std::to_string(i) + ".example.test");
    const std::vector<std::string> many = Found("account-without-address");
    ASSERT_EQ(many.size(), 51u);
    EXPECT_EQ(many.back(), ": Und 13 weitere Kontoordner erreicht keine Adresse.");
}

TEST_F(CheckTest, AListFileThatIsNoFileIsCritical) {
    EXPECT_TRUE(Found("list-file-unreadable").empty());
    fs::remove(config + "/access.relay");
    fs::create_directory(config + "/access.relay");
    const std::vector<std::string> found = Found("list-file-unreadable");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].substr(0, 17), "AccessRelayFile: ");
}

} // namespace
