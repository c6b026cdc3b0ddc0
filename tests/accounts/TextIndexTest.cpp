#include "accounts/TextIndex.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using accounts_detail::CTextIndex;

// Every text in one chain: probing, growing and the tag check all have to be right.
struct CollidingRule {
    static std::uint64_t Hash(std::string_view) { return 0x1234567800000000ull; }
    static bool Equal(std::string_view a, std::string_view b) { return a == b; }
};

TEST(TextIndex, KeepsTheFirstNumberOfEachTextThroughCollisionsAndGrowth) {
    std::vector<std::string> texts;
    CTextIndex<CollidingRule> index;
    auto textOf = [&](std::uint32_t n) { return std::string_view(texts[n]); };
    for (std::uint32_t i = 0; i < 200; ++i) {
        texts.push_back("t" + std::to_string(i % 150)); // the last 50 repeat earlier ones
        bool added = false;
        EXPECT_EQ(index.FindOrAdd(texts.back(), i, textOf, added), i % 150);
        EXPECT_EQ(added, i < 150);
    }
    EXPECT_EQ(index.Find("t150", textOf), CTextIndex<CollidingRule>::kNone);
    // The first slot with the tag is only a candidate; Find settles it.
    const auto tag = CTextIndex<CollidingRule>::Tag("t77");
    EXPECT_LT(index.Candidate(tag), 150u);
    EXPECT_EQ(index.Find("t77", tag, textOf), 77u);
}

TEST(TextIndex, FoldsCaseExactlyAsTheCodePageRuleDoes) {
    std::mt19937 random(3);
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 20, ' ');
        for (char& c : text)
            c = static_cast<char>(random() % 256);
        const std::string lower = ansi::ToLower(text);
        ASSERT_EQ(accounts_detail::HashNoCase(text), accounts_detail::HashNoCase(lower));
        std::string other = lower;
        if (!other.empty())
            other[random() % other.size()] ^= static_cast<char>(1 + random() % 255);
        ASSERT_EQ(accounts_detail::EqualNoCase(text, other), ansi::EqualNoCase(text, other));
    }
    // '@' and '[' sit next to the capitals and stay themselves.
    EXPECT_NE(accounts_detail::HashNoCase("@["), accounts_detail::HashNoCase("`{"));
}

} // namespace
