#include "accounts/AliasMap.h"
#include "accounts/DomainList.h"
#include "accounts/UserList.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Entries = std::vector<CAliasMap::Entry>;

namespace {

TEST(DomainList, FindIgnoresCaseAndFollowsEveryChange) {
    testutil::TempDir dir;
    testutil::WriteBytes(dir / "domains", "Example.TEST\r\n\xc4rger.test\r\nexample.test\r\n");
    CDomainList domains;
    ASSERT_TRUE(domains.Load(dir / "domains"));
    auto first = domains.Find("example.test");
    ASSERT_TRUE(first);
    EXPECT_EQ(domains.GetAt(first), "Example.TEST"); // the first from the head
    auto second = domains.Find("EXAMPLE.test", first);
    ASSERT_TRUE(second);
    EXPECT_EQ(domains.GetAt(second), "example.test");
    EXPECT_FALSE(domains.Find("example.test", second));
    EXPECT_TRUE(domains.Find("\xe4RGER.test")); // the code page's capitals fold too

    domains.RemoveAt(first);
    EXPECT_EQ(domains.GetAt(domains.Find("example.test")), "example.test");
    domains.InsertSorted("new.test");
    EXPECT_TRUE(domains.Find("New.Test"));
    testutil::WriteBytes(dir / "domains", "reloaded.test\r\n");
    ASSERT_TRUE(domains.Load());
    EXPECT_FALSE(domains.Find("new.test"));
    EXPECT_TRUE(domains.Find("reloaded.test"));
}

TEST(Addresses, LocalMeansADomainOfTheLocalListOrNoDomainAtAll) {
    CDomainList domains;
    domains.AddTail("example.test");
    EXPECT_TRUE(IsLocalAddress("a@Example.Test", domains));
    EXPECT_FALSE(IsLocalAddress("a@backup.test", domains));
    EXPECT_FALSE(IsLocalAddress("a@b@example.test", domains)); // after the first "@"
    EXPECT_TRUE(IsLocalAddress("bob", domains));
    EXPECT_FALSE(IsLocalAddress("", domains));
}

TEST(Addresses, MatchPatternWithStarAndQuestionMark) {
    EXPECT_TRUE(MatchPattern("a@x.test", "*"));
    EXPECT_FALSE(MatchPattern("a*@x.test", "*")); // wildcards in the address match nothing
    EXPECT_TRUE(MatchPattern("Sales@X.Test", "s*@x.test"));
    EXPECT_TRUE(MatchPattern("s@x.test", "s*@x.test")); // "*" may stand for nothing
    EXPECT_TRUE(MatchPattern("info1@x.test", "info?@x.test"));
    EXPECT_FALSE(MatchPattern("info@x.test", "info?@x.test"));
    EXPECT_FALSE(MatchPattern("info12@x.test", "info?@x.test"));
    EXPECT_TRUE(MatchPattern("ab@a@b", "*@*b")); // the first place to go on from may fail
    EXPECT_TRUE(MatchPattern("\xc4rger@x", "\xe4*"));
    EXPECT_FALSE(MatchPattern("a@x.test.org", "*@x.test"));
}

class AliasMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(spool);
        mdad.SetString("SpoolDir", spool);
        for (const char* account : {"alice.example.test", "bob", "carol", "example.test"})
            fs::create_directory(spool + "/" + account);
        users.Refresh();
        domains.AddTail("Example.Test");
        domains.AddTail("other.test");
    }
    bool LoadLines(const std::string& lines) {
        testutil::WriteBytes(dir / "aliases", lines);
        return aliases.Load(dir / "aliases");
    }
    std::string Target(std::string_view key) {
        std::string value;
        return aliases.Lookup(key, value) ? value : "<dropped>";
    }
    std::string Resolve(std::string_view address) {
        std::string target;
        return aliases.ResolveAddress(address, target) ? target : "<none>";
    }

    testutil::TempDir dir;
    std::string spool = dir / "spool";
    CConfigMap mdad;
    CUserList users{mdad};
    CDomainList domains;
    CAliasMap aliases{domains, users};
};

TEST_F(AliasMapTest, LoadKeepsLocalAddressesOfAccountsAndForwardings) {
    ASSERT_TRUE(LoadLines("Alice@Example.TEST: alice.example.test\n"
                          "a@backup.test: bob\n" // not a local domain
                          "fw@other.test: Someone@Far.Away\n"
                          "Bob: bob\n"             // the key is its own target
                          "y@other.test: nobody\n" // not an account
                          "z@other.test: Bob\n"    // accounts are lower case
                          "self@other.test: self@other.test\n"));
    EXPECT_EQ(Target("alice@example.test"), "alice.example.test");
    EXPECT_EQ(Target("fw@other.test"), "Someone@Far.Away");
    EXPECT_EQ(aliases.GetCount(), 2u);
    EXPECT_EQ(aliases.GetDroppedCount(), 5);
}

// The load asks the domain list once per run of keys of one domain: runs that alternate, change
// case, or end with a domain that left the list before the next load must not carry an answer.
TEST_F(AliasMapTest, EachKeyIsJudgedByItsOwnDomainAcrossRunsAndLoads) {
    const std::string lines = "a@example.test: bob\n"
                              "b@EXAMPLE.test: bob\n"
                              "c@example.testx: bob\n"
                              "d@example.tes: bob\n"
                              "e@example.test: bob\n"
                              "f@other.test: bob\n";
    ASSERT_TRUE(LoadLines(lines));
    EXPECT_EQ(aliases.GetCount(), 4u);
    EXPECT_EQ(Target("c@example.testx") + Target("d@example.tes"), "<dropped><dropped>");
    domains.RemoveAll();
    domains.AddTail("example.test");
    ASSERT_TRUE(LoadLines("g@other.test: bob\nh@example.test: bob\n"));
    EXPECT_EQ(Target("g@other.test") + Target("h@example.test"), "<dropped>bob");
}

TEST_F(AliasMapTest, OneLevelOfResolutionMakesTheLoadOrderDependent) {
    ASSERT_TRUE(LoadLines("a: bob\nb: a\n"));
    EXPECT_EQ(Target("b"), "bob");
    ASSERT_TRUE(LoadLines("b: a\na: bob\n"));
    EXPECT_EQ(Target("b"), "<dropped>");
    ASSERT_TRUE(LoadLines("a: bob\nbob: a\n")); // resolves back to its own key
    EXPECT_EQ(Target("bob"), "<dropped>");
    ASSERT_TRUE(LoadLines("a: bob\na: carol\na: nobody\nb: a\n")); // the value a holds last
    EXPECT_EQ(Target("b"), "carol");
    ASSERT_TRUE(LoadLines("f: x@far.away\ng: f\n")); // a forwarding is no account
    EXPECT_EQ(Target("g"), "<dropped>");
}

TEST_F(AliasMapTest, ResolvePrefersExactKeysThenTheLongestPattern) {
    ASSERT_TRUE(LoadLines("*@example.test: example.test\n"
                          "s*@example.test: carol\n"
                          "sa*@example.test: bob\n" // as long as the next: the first wins
                          "s?*@example.test: carol\n"
                          "sales@example.test: bob\n"));
    aliases.SetAt("postmaster@*", "alice.example.test"); // the load would drop it: not local
    EXPECT_EQ(Resolve("sales@example.test"), "bob");
    EXPECT_EQ(Resolve("salt@example.test"), "bob");
    EXPECT_EQ(Resolve("sun@example.test"), "carol");
    EXPECT_EQ(Resolve("Sales@Example.Test"), "bob"); // not exact, but matches itself
    EXPECT_EQ(Resolve("info@example.test"), "example.test");
    EXPECT_EQ(Resolve("postmaster@elsewhere"), "alice.example.test");
    EXPECT_EQ(Resolve("info@other.test"), "<none>");
    EXPECT_EQ(Resolve("*@example.test"), "example.test"); // exact only
    aliases.SetAt("sale*@example.test", "carol");
    EXPECT_EQ(Resolve("sale@example.test"), "carol");
    aliases.RemoveKey("*@example.test");
    EXPECT_EQ(Resolve("info@example.test"), "<none>");
}

TEST_F(AliasMapTest, ResolveAgreesWithAWalkOverAllEntries) {
    std::mt19937 random(7);
    const std::string alphabet = "aB@*?.";
    auto text = [&](std::size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s)
            c = alphabet[random() % alphabet.size()];
        return s;
    };
    for (int i = 0; i < 300; ++i)
        aliases.SetAt(text(6), "t" + std::to_string(i));
    for (int i = 0; i < 3000; ++i) {
        const std::string address = text(7);
        std::string expected = "<none>", key, value;
        if (!aliases.Lookup(address, expected)) {
            std::size_t longest = 0;
            for (auto position = aliases.GetStartPosition(); position;) {
                aliases.GetNextAssoc(position, key, value);
                if (MatchPattern(address, key) && (expected == "<none>" || key.size() > longest)) {
                    longest = key.size();
                    expected = value;
                }
            }
        }
        ASSERT_EQ(Resolve(address), expected) << address;
    }
}

TEST_F(AliasMapTest, AddressesOfAnAccountAreFoundWhateverTheirCase) {
    ASSERT_TRUE(LoadLines("root: bob\nb@example.test: bob\nc@example.test: carol\n"));
    std::string key;
    EXPECT_TRUE(aliases.HasDomainAddress("BOB"));
    EXPECT_TRUE(aliases.FindAddressOf("Bob", key));
    EXPECT_EQ(key, "root"); // the first in the map's order, with or without "@"
    aliases.RemoveKey("b@example.test");
    EXPECT_FALSE(aliases.HasDomainAddress("bob")); // "root" has no "@"
    aliases.RemoveKey("root");
    EXPECT_FALSE(aliases.FindAddressOf("bob", key));
    EXPECT_EQ(key, "");

    // The root of the domains page: the accounts no address reaches.
    aliases.SetAt("Alice.Example.Test", "x"); // a key, not a target: does not count
    auto without = aliases.AccountsWithoutDomainAddress(users);
    std::sort(without.begin(), without.end());
    EXPECT_EQ(without, (std::vector<std::string>{"alice.example.test", "bob", "example.test"}));
}

TEST_F(AliasMapTest, ListsTheEntriesOfOneDomainInMapOrder) {
    ASSERT_TRUE(LoadLines("b@example.test: bob\nroot: carol\nx@other.test: bob\n"
                          "*@Example.Test: example.test\nfw@example.test: a@far.away\n"));
    aliases.SetAt("@example.test", "bob"); // "@" first: shown nowhere
    const Entries expected{{"b@example.test", "bob"},
                           {"*@example.test", "example.test"},
                           {"fw@example.test", "a@far.away"}};
    EXPECT_EQ(aliases.GetDomainEntries("EXAMPLE.test"), expected); // one pass over all
    EXPECT_EQ(aliases.GetDomainEntries("EXAMPLE.test"), expected); // through the index
    EXPECT_EQ(aliases.GetEntriesWithoutDomain(), (Entries{{"root", "carol"}}));
    aliases.RemoveKey("b@example.test");
    EXPECT_EQ(aliases.GetDomainEntries("example.test").size(), 2u);
}

} // namespace
