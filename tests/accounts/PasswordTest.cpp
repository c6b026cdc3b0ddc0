#include "accounts/Password.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Products worked out by hand from the rule: password byte times lower-cased name byte.
TEST(Kvcrypt, KnownEncodings) {
    EXPECT_EQ(EncodePassword("ab", "A"), "18a1");          // 65 * 97 = 6305
    EXPECT_EQ(EncodePassword("Ab", "AB"), "18a11944");     // 66 * 98 = 6468
    EXPECT_EQ(EncodePassword("Q", "xyz"), "34f8356935da"); // the name wraps around
    EXPECT_EQ(EncodePassword("a", "\x01"), "0061");        // zero-padded to four digits
    EXPECT_EQ(EncodePassword("bob", "secret"), "2c062bcb25e62ba42bcb2c68");
    // Signed bytes: 'a' * (signed) 0xE9 = -2231, written as its 32-bit two's complement; the
    // capital 0xC9 folds to 0xE9 first.
    EXPECT_EQ(EncodePassword("\xe9", "a"), "fffff749");
    EXPECT_EQ(EncodePassword("\xc9", "a"), "fffff749");
    EXPECT_EQ(EncodePassword("", "secret"), "");
    EXPECT_EQ(DecodePassword("", "18a1"), "");
}

TEST(Kvcrypt, EveryPlainByteSurvivesUnderAnyLetterCaseOfTheName) {
    std::string all;
    for (int c = 1; c <= 127; ++c)
        all.push_back(static_cast<char>(c));
    for (const char* account : {"info.example.test", "x", "Info.Example.TEST", "~~~"}) {
        SCOPED_TRACE(account);
        const std::string encoded = EncodePassword(account, all);
        EXPECT_EQ(encoded.size(), all.size() * 4);
        EXPECT_EQ(DecodePassword(account, encoded), all);
        EXPECT_TRUE(PasswordSurvivesEncoding(account, all));
    }
    EXPECT_EQ(EncodePassword("INFO", "pw"), EncodePassword("info", "pw"));
    EXPECT_EQ(DecodePassword("INFO", EncodePassword("info", "pw")), "pw");
}

TEST(Kvcrypt, TellsWhichPasswordsSurvive) {
    // A negative product does not come back.
    EXPECT_NE(DecodePassword("\xe9", EncodePassword("\xe9", "a")), "a");
    EXPECT_TRUE(PasswordSurvivesEncoding("bob", "S3cret!~"));
    EXPECT_FALSE(PasswordSurvivesEncoding("bob", "gr\xfc\xdf"));           // ü, ß
    EXPECT_FALSE(PasswordSurvivesEncoding("bob", std::string("a\0b", 3))); // 0 is lost
    EXPECT_FALSE(PasswordSurvivesEncoding("r\xe9n\xe9", "abcd"));          // é in the name
    // Only the name bytes a password byte meets count.
    EXPECT_TRUE(PasswordSurvivesEncoding("ab\xe9", "xy"));
    EXPECT_FALSE(PasswordSurvivesEncoding("ab\xe9", "xyz"));
}

} // namespace
