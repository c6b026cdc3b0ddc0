#include "Common/Ansi.h"

#include <gtest/gtest.h>

TEST(Ansi, LowerCaseFoldsAsciiAndTheAccentedCapitalsOnly) {
    EXPECT_EQ(ansi::ToLower("Info.EXAMPLE.Test"), "info.example.test");
    EXPECT_EQ(ansi::ToLower("\xc4\xd6\xdc\xc0\xde"), "\xe4\xf6\xfc\xe0\xfe"); // ÄÖÜÀÞ
    EXPECT_EQ(ansi::ToLower("\x8a\x8c\x8e\x9f"), "\x9a\x9c\x9e\xff");         // ŠŒŽŸ
    EXPECT_EQ(ansi::ToLower("\xd7\xdf\xe4@[_"), "\xd7\xdf\xe4@[_"); // ×, ß, ä and signs stay
    EXPECT_TRUE(ansi::EqualNoCase("M\xdcLLER@Example.test", "m\xfcller@example.TEST"));
    EXPECT_FALSE(ansi::EqualNoCase("abc", "abd"));
    EXPECT_FALSE(ansi::EqualNoCase("abc", "ab"));
}

TEST(Ansi, EveryByteSurvivesTheWayToUnicodeAndBack) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    bool representable = false;
    EXPECT_EQ(ansi::FromUtf8(ansi::ToUtf8(all), &representable), all);
    EXPECT_TRUE(representable);
    EXPECT_EQ(ansi::ToUtf8("\x80\xfc\x9f"), "\u20ac\u00fc\u0178");
}

TEST(Ansi, TextTheCodePageCannotHoldBecomesQuestionMarks) {
    bool representable = true;
    EXPECT_EQ(ansi::FromUtf8("Gr\u00fc\u00dfe \u4e2d", &representable), "Gr\xfc\xdf"
                                                                        "e ?");
    EXPECT_FALSE(representable);
    // Broken UTF-8: a lone continuation byte, a cut sequence, an overlong form, a surrogate.
    EXPECT_EQ(ansi::FromUtf8("a\x80"
                             "b\xc3"),
              "a?b?");
    EXPECT_EQ(ansi::FromUtf8("\xc0\xaf\xed\xa0\x80"), "???");
}
