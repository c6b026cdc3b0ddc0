#include "Common/MapEx.h"
#include "Common/StringList.h"
#include "tests/Matchers.h"
#include "tests/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>

using testing::ElementsAre;

namespace {

std::vector<std::pair<std::string, std::string>> Entries(const CMapEx& map) {
    std::vector<std::pair<std::string, std::string>> out;
    std::string key, value;
    for (auto pos = map.GetStartPosition(); pos != 0;) {
        map.GetNextAssoc(pos, key, value);
        out.emplace_back(key, value);
    }
    return out;
}

} // namespace

TEST(MapEx, StoresLooksUpAndRemovesExactKeys) {
    CMapEx map;
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_EQ(map.GetStartPosition(), 0u);
    map.SetAt("SpoolDir", "a");
    map.SetAt("spooldir", "b");
    map["SpoolDir"] = "c";
    std::string value;
    ASSERT_TRUE(map.Lookup("SpoolDir", value));
    EXPECT_EQ(value, "c");
    ASSERT_TRUE(map.Lookup("spooldir", value));
    EXPECT_EQ(value, "b");
    EXPECT_FALSE(map.Lookup("SPOOLDIR", value));
    EXPECT_EQ(map.GetCount(), 2u);
    std::string stored;
    EXPECT_TRUE(map.LookupKey("spooldir", stored));
    EXPECT_EQ(stored, "spooldir");
    EXPECT_TRUE(map.RemoveKey("spooldir"));
    EXPECT_FALSE(map.RemoveKey("spooldir"));
    EXPECT_FALSE(map.Contains("spooldir"));
    EXPECT_EQ(map.GetCount(), 1u);
}

TEST(MapEx, IteratesInFirstInsertionOrderAcrossRemovalsAndGrowth) {
    CMapEx map;
    for (int i = 0; i < 1000; ++i)
        map.SetAt("k" + std::to_string(i), std::to_string(i));
    for (int i = 0; i < 1000; i += 2)
        map.RemoveKey("k" + std::to_string(i));
    map.SetAt("k0", "again");         // a removed key comes back at the end
    for (int i = 1000; i < 3000; ++i) // forces rehashes that close the holes
        map.SetAt("k" + std::to_string(i), std::to_string(i));
    auto entries = Entries(map);
    ASSERT_EQ(entries.size(), 500u + 1u + 2000u);
    EXPECT_EQ(entries[0].first, "k1");
    EXPECT_EQ(entries[499].first, "k999");
    EXPECT_EQ(entries[500], std::make_pair(std::string("k0"), std::string("again")));
    EXPECT_EQ(entries.back().first, "k2999");
}

TEST(MapEx, AgreesWithAReferenceMapUnderRandomOperations) {
    CMapEx map;
    std::map<std::string, std::string> reference;
    std::mt19937 random(7);
    for (int step = 0; step < 20000; ++step) {
        std::string key = "key" + std::to_string(random() % 300);
        switch (random() % 4) {
        case 0:
        case 1:
            map.SetAt(key, std::to_string(step));
            reference[key] = std::to_string(step);
            break;
        case 2:
            EXPECT_EQ(map.RemoveKey(key), reference.erase(key) == 1);
            break;
        default:
            if (random() % 50 == 0) {
                map.RemoveAll();
                reference.clear();
            }
        }
    }
    auto entries = Entries(map);
    EXPECT_EQ(entries.size(), reference.size());
    EXPECT_EQ(map.GetCount(), reference.size());
    for (const auto& [key, value] : entries)
        EXPECT_EQ(reference[key], value);
}

TEST(MapEx, RenamedKeysKeepTheirPlaceUnderRandomOperations) {
    CMapEx map;
    std::vector<std::pair<std::string, std::string>> reference; // in iteration order
    const auto find = [&](const std::string& key) {
        return std::find_if(reference.begin(), reference.end(),
                            [&](const auto& entry) { return entry.first == key; });
    };
    std::mt19937 random(11);
    for (int step = 0; step < 20000; ++step) {
        const std::string key = "key" + std::to_string(random() % 200);
        const std::string to = "key" + std::to_string(random() % 200);
        switch (random() % 3) {
        case 0:
            map.SetAt(key, std::to_string(step));
            if (auto it = find(key); it != reference.end())
                it->second = std::to_string(step);
            else
                reference.emplace_back(key, std::to_string(step));
            break;
        case 1:
            if (auto it = find(key); it != reference.end())
                reference.erase(it);
            map.RemoveKey(key);
            break;
        default: {
            auto it = find(key);
            const bool possible = it != reference.end() && (key == to || find(to) == reference.end());
            ASSERT_EQ(map.RenameKey(key, to), possible) << key << " -> " << to;
            if (possible)
                it->first = to;
        }
        }
    }
    EXPECT_EQ(Entries(map), reference);
    for (const auto& [key, value] : reference)
        EXPECT_EQ(*map.FindValue(key), value);
}

TEST(MapEx, CopiesAreIndependent) {
    CMapEx a;
    a.SetAt("x", "1");
    CMapEx b(a);
    b.SetAt("x", "2");
    EXPECT_EQ(*a.FindValue("x"), "1");
    EXPECT_EQ(*b.FindValue("x"), "2");
}

TEST(ThreadSafeMap, OnlyStoringMarksTheMapModified) {
    CThreadSafeMap map;
    EXPECT_FALSE(map.IsModified());
    map.SetAt("a", "1");
    EXPECT_TRUE(map.IsModified());
    map.SetModified(false);
    map.RemoveKey("a");
    map.RemoveAll();
    EXPECT_FALSE(map.IsModified());
    map["b"];
    EXPECT_TRUE(map.IsModified());
}

TEST(ThreadSafeMap, LookupTracesOnlyAboveLevelFour) {
    testutil::CapturedLog log;
    CThreadSafeMap map;
    map.SetAt("a", "1");
    std::string value;
    map.SetTraceLevel(4);
    map.Lookup("a", value);
    EXPECT_TRUE(log.lines().empty());
    map.SetTraceLevel(5);
    map.Lookup("a", value);
    EXPECT_THAT(log.texts(),
                ElementsAre("CThreadSafeMap::Lookup: Common\\MapEx:183",
                            "CThreadSafeMap::Lookup: Common\\MapEx:191",
                            "CMapEx::Lookup: Common\\MapEx:63", "CMapEx::Lookup: Common\\MapEx:72",
                            "CMapEx::Lookup: Common\\MapEx:81",
                            "CMapEx::Lookup: Common\\MapEx:89"));
    EXPECT_EQ(log.lines()[0].first, 7);
    CMapEx plain;
    plain.SetTraceLevel(5);
    plain.Lookup("missing", value); // a miss stops after the search
    EXPECT_EQ(log.lines().size(), 8u);
}

TEST(StorableMap, DestructorTracesAboveLevelTwo) {
    testutil::CapturedLog log;
    {
        CStorableMap map;
        map.SetTraceLevel(3);
    }
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_THAT(log.lines()[0].second,
                testutil::MatchesPattern("CStorableMap::~CStorableMap: 0x[0-9A-F]{8,}, "
                                         "Common\\\\MapEx:278"));
}

TEST(ConfigMap, TypedGettersReadNumbersAndListsAsTheServicesDo) {
    CConfigMap map;
    EXPECT_EQ(map.GetString("Missing", "dflt"), "dflt");
    EXPECT_EQ(map.GetInt("Missing", 42), 42);
    map.SetAt("A", "  -17xyz");
    map.SetAt("B", "abc");
    map.SetAt("C", "+8");
    map.SetAt("D", "99999999999999");
    EXPECT_EQ(map.GetInt("A", 1), -17);
    EXPECT_EQ(map.GetInt("B", 1), 0);
    EXPECT_EQ(map.GetInt("C", 1), 8);
    EXPECT_EQ(map.GetInt("D", 1), 2147483647);

    map.SetAt("L", ",a,, b ,c,");
    CStringListEx list;
    list.AddTail("kept");
    map.GetList("L", list, "");
    EXPECT_EQ(list.Join("|"), "kept|a|b|c");
    CStringListEx fallback;
    map.GetList("None", fallback, "x, ,y");
    EXPECT_EQ(fallback.GetCount(), 3u);
    EXPECT_EQ(fallback.Join("|"), "x||y");
}

TEST(ConfigMap, SettersFormatValuesAndAnEmptyTextRemovesTheKey) {
    CConfigMap map;
    map.SetInt("N", -5);
    map.SetUInt("U", 4294967295u);
    CStringListEx list;
    list.AddTail("a");
    list.AddTail("b");
    map.SetList("L", list);
    EXPECT_EQ(map.GetString("N", ""), "-5");
    EXPECT_EQ(map.GetString("U", ""), "4294967295");
    EXPECT_EQ(map.GetString("L", ""), "a,b");
    map.SetModified(false);
    map.SetString("N", "");
    EXPECT_FALSE(map.Contains("N"));
    EXPECT_TRUE(map.IsModified());
    map.SetModified(false);
    map.SetString("Never", ""); // removing what is not there still counts as a change
    EXPECT_TRUE(map.IsModified());
}

TEST(PathJoin, JoinsWithOneSeparatorAndKeepsCompletePaths) {
    const std::string separator(1, platform::kPathSeparator); // "\\" on Windows
    EXPECT_EQ(PathJoin("/etc/mail", "smtpd.cfg"), "/etc/mail" + separator + "smtpd.cfg");
    EXPECT_EQ(PathJoin("/etc/mail/", "smtpd.cfg"), "/etc/mail/smtpd.cfg");
    if (testutil::kWindows) { // where a folder may end in either separator
        EXPECT_EQ(PathJoin("c:\\mail\\", "smtpd.cfg"), "c:\\mail\\smtpd.cfg");
    }
    EXPECT_EQ(PathJoin("", "smtpd.cfg"), "smtpd.cfg");
    EXPECT_EQ(PathJoin("/etc/mail", "c:\\mail\\x.cfg"), "c:\\mail\\x.cfg");
    EXPECT_EQ(PathJoin("/etc/mail", "/opt/x.cfg"), "/opt/x.cfg");
}
