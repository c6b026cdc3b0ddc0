#include "Common/StringList.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <list>
#include <random>
#include <string>
#include <vector>

using testutil::Crlf;
using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

std::string Items(const CStringListEx& list) {
    return list.Join("|");
}

} // namespace

TEST(StringList, PositionsWalkInsertAndRemove) {
    CStringListEx list;
    EXPECT_FALSE(list.GetHeadPosition());
    auto b = list.AddTail("b");
    list.AddHead("a");
    list.InsertAfter(b, "d");
    list.InsertBefore(list.Find("d"), "c");
    EXPECT_EQ(Items(list), "a|b|c|d");
    EXPECT_EQ(list.GetHead(), "a");
    EXPECT_EQ(list.GetTail(), "d");

    std::string backwards;
    for (auto pos = list.GetTailPosition(); pos;)
        backwards += list.GetPrev(pos);
    EXPECT_EQ(backwards, "dcba");

    auto pos = list.FindIndex(2);
    EXPECT_EQ(list.GetAt(pos), "c");
    list.SetAt(pos, "C");
    list.RemoveAt(list.FindIndex(0));
    EXPECT_FALSE(list.FindIndex(3));
    EXPECT_EQ(list.RemoveHead(), "b");
    EXPECT_EQ(list.RemoveTail(), "d");
    EXPECT_EQ(Items(list), "C");
}

TEST(StringList, FindIsExactAndCanContinueAfterAHit) {
    CStringListEx list;
    list.AddTokens("x,Y,x", ",");
    auto first = list.Find("x");
    ASSERT_TRUE(first);
    auto second = list.Find("x", first);
    ASSERT_TRUE(second);
    EXPECT_FALSE(second == first);
    EXPECT_FALSE(list.Find("x", second));
    EXPECT_FALSE(list.Find("y"));
}

TEST(StringList, AddTokensSkipsEmptyPiecesButKeepsBlankOnes) {
    CStringListEx list;
    list.AddTokens("a,,b, c,", ",");
    EXPECT_EQ(Items(list), "a|b|c");
    CStringListEx blanks;
    blanks.AddTokens("a, ,b", ",");
    EXPECT_EQ(blanks.GetCount(), 3u);
    EXPECT_EQ(Items(blanks), "a||b");
    CStringListEx several;
    several.AddTokens(" a;b c ", "; ");
    EXPECT_EQ(Items(several), "a|b|c");
    several.AddTokens("", ",");
    EXPECT_EQ(several.GetCount(), 3u);
}

TEST(StringList, CopiesAndAppendsWholeLists) {
    CThreadSafeList locked;
    locked.AddTail("m");
    CStringListEx plain;
    plain.AddTail("z");
    plain.AddHead(locked);
    plain.AddTail(locked);
    EXPECT_EQ(Items(plain), "m|z|m");
    CStringListEx copy(plain);
    copy.AddTail("n");
    EXPECT_EQ(plain.GetCount(), 3u);
}

// The list against std::list under a long run of mixed operations: the linked nodes, the reuse
// of removed ones and the positions must agree with the model at every step.
TEST(StringList, AgreesWithAPlainListUnderRandomOperations) {
    CStringListEx list;
    std::list<std::string> model;
    std::vector<std::pair<CStringListEx::POSITION, std::list<std::string>::iterator>> places;
    std::mt19937 random(7);
    for (int step = 0; step < 4000; ++step) {
        const std::string item = "i" + std::to_string(random() % 50);
        const std::size_t pick = places.empty() ? 0 : random() % places.size();
        switch (places.empty() ? random() % 2 : random() % 6) {
        case 0:
            places.emplace_back(list.AddTail(item), model.insert(model.end(), item));
            break;
        case 1:
            places.emplace_back(list.AddHead(item), model.insert(model.begin(), item));
            break;
        case 2:
            places.emplace_back(list.InsertBefore(places[pick].first, item),
                                model.insert(places[pick].second, item));
            break;
        case 3:
            places.emplace_back(list.InsertAfter(places[pick].first, item),
                                model.insert(std::next(places[pick].second), item));
            break;
        case 4:
            list.SetAt(places[pick].first, item);
            *places[pick].second = item;
            break;
        default:
            list.RemoveAt(places[pick].first);
            model.erase(places[pick].second);
            places.erase(places.begin() + static_cast<std::ptrdiff_t>(pick));
        }
        for (const auto& [position, it] : places)
            ASSERT_EQ(list.GetAt(position), *it) << "step " << step;
    }
    std::string expected;
    for (const std::string& item : model)
        expected += (expected.empty() ? "" : "|") + item;
    EXPECT_EQ(Items(list), expected);
    EXPECT_EQ(list.GetCount(), model.size());
    std::string backwards;
    for (auto position = list.GetTailPosition(); position;)
        backwards.insert(0, std::string(list.GetPrev(position)) + (backwards.empty() ? "" : "|"));
    EXPECT_EQ(backwards, expected);
}

TEST(SortedStringList, InsertSortedKeepsByteOrderWithoutDuplicates) {
    CSortedStringList list;
    list.InsertSorted("c");
    list.InsertSorted("a");
    list.InsertSorted("b");
    EXPECT_EQ(Items(list), "a|b|c");
    list.InsertSorted("c");
    EXPECT_EQ(Items(list), "a|b|c");
    list.InsertSorted("B");
    EXPECT_EQ(Items(list), "B|a|b|c");
    list.InsertSorted("\xe4"); // 8-bit letters sort after ASCII
    EXPECT_EQ(list.GetTail(), "\xe4");
}

namespace {

class StorableListFile : public testing::Test {
protected:
    std::string RoundTrip(const std::string& text) {
        WriteBytes(path, text);
        EXPECT_TRUE(list.Load(path));
        EXPECT_TRUE(list.Save(false));
        return ReadBytes(path);
    }
    testutil::TempDir dir;
    std::string path = dir / "domains";
    CStorableList list;
};

} // namespace

TEST_F(StorableListFile, GoldenDomainsFileKeepsCommentsAndBytes) {
    std::string written = RoundTrip(ReadBytes(KORVANE_TEST_DATA "/domains.in"));
    EXPECT_EQ(written, ReadBytes(KORVANE_TEST_DATA "/domains.expected"));
    EXPECT_EQ(Items(list), "example.com|Beispiel.DE|a\\#b|example.org|stra\xdf"
                           "e.example");
    EXPECT_EQ(RoundTrip(written), written);
}

// Loaded items view the file's bytes: a copy, and an item read before, must outlive the
// original list's next load and its clearing.
TEST_F(StorableListFile, CopiesAndViewsOutliveTheNextLoad) {
    WriteBytes(path, "a.example\r\nb.example\r\n");
    ASSERT_TRUE(list.Load(path));
    const CStringListEx copy(list);
    CStringListEx appended;
    appended.AddTail(list);
    WriteBytes(path, "c.example\r\n");
    ASSERT_TRUE(list.Load(path));
    list.RemoveAll();
    EXPECT_EQ(Items(copy), "a.example|b.example");
    EXPECT_EQ(Items(appended), "a.example|b.example");
}

TEST_F(StorableListFile, CommentRulesOfTheListFormat) {
    EXPECT_EQ(RoundTrip("example.com\n# old\n\nexample.org\n"),
              Crlf("example.com\n# old\n\nexample.org\n"));
    EXPECT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(RoundTrip("example.com # primary\n"), Crlf("# primary\nexample.com\n"));
    EXPECT_EQ(RoundTrip("a\\#b\n"), Crlf("a\\#b\n"));
    EXPECT_EQ(list.GetHead().size(), 4u);
}

TEST_F(StorableListFile, TrailingCommentIsKeptWithoutGrowing) {
    std::string once = RoundTrip("a\n# end");
    EXPECT_EQ(once, Crlf("a\n# end\n"));
    EXPECT_EQ(RoundTrip(once), once);
    EXPECT_EQ(RoundTrip(once), once);
}

TEST_F(StorableListFile, EqualItemsShareTheCommentOfTheLastOne) {
    EXPECT_EQ(RoundTrip("# first\nx\n# second\nx\n"), Crlf("# second\nx\n# second\nx\n"));
}

// The load looks only the items of a commented item's sign up; the last line of an item
// still decides, also among many items.
TEST_F(StorableListFile, AnItemThatStandsAgainWithoutABlockLosesItsBlock) {
    std::string text = "# first\nx\n";
    for (int i = 0; i < 2000; ++i)
        text += "item" + std::to_string(i) + "\n";
    EXPECT_EQ(RoundTrip(text + "x\n"), Crlf(text.substr(8) + "x\n"));
}

TEST_F(StorableListFile, RemovedItemLeavesItsCommentForALaterItemOfTheSameText) {
    WriteBytes(path, "# about b\nb\nc\n");
    ASSERT_TRUE(list.Load(path));
    list.RemoveAt(list.Find("b"));
    EXPECT_EQ(*list.GetComments().FindValue("b"), "# about b\n");
    list.AddTail("b");
    list.AddTail("new");
    list.SetModified();
    ASSERT_TRUE(list.Save(false));
    EXPECT_FALSE(list.IsModified());
    EXPECT_EQ(ReadBytes(path), Crlf("c\n# about b\nb\nnew\n"));
}

TEST_F(StorableListFile, MissingFileIsCreatedOnSaveWithBackup) {
    ::setenv("KORVANE_TEST_DIR", dir.path().c_str(), 1);
    EXPECT_FALSE(list.LoadFromEnv("backupdomains", "KORVANE_TEST_DIR"));
    ::unsetenv("KORVANE_TEST_DIR");
    EXPECT_FALSE(list.IsLoaded());
    list.AddTail("backup.example");
    EXPECT_TRUE(list.Save(true, dir / "backupdomains"));
    EXPECT_EQ(ReadBytes(dir / "backupdomains"), Crlf("backup.example\n"));
}

TEST_F(StorableListFile, HostileInputLoadsCleanly) {
    RoundTrip(std::string("a\0b\n\xff\xfe\n\r\n\r\r\nlast", 16));
    EXPECT_EQ(list.GetCount(), 3u);
    EXPECT_EQ(list.GetHead(), std::string("a\0b", 3));
    EXPECT_EQ(list.GetTail(), "last");
    EXPECT_FALSE(list.Load(dir.path()));
    EXPECT_EQ(list.GetCount(), 3u);
}
