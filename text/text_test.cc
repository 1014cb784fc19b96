#include "text/text.h"

#include <cstring>
#include <gtest/gtest.h>

TEST(SameText, EqualOnlyWhenBothPresentAndIdentical)
{
    EXPECT_EQ(same_text("check", "check"), 0);
    EXPECT_NE(same_text("check", "CHECK"), 0);
    EXPECT_NE(same_text("check", "checks"), 0);
    EXPECT_NE(same_text(nullptr, "check"), 0);
    EXPECT_NE(same_text("check", nullptr), 0);
    EXPECT_NE(same_text(nullptr, nullptr), 0);
    EXPECT_EQ(same_text("", ""), 0);
}

TEST(CopyBounded, CopiesAtMostNAndTerminatesPositionN)
{
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    char *end = copy_bounded(buffer, "abcdefghij", 5);
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(end, buffer + 5);

    std::memset(buffer, 'x', sizeof buffer);
    end = copy_bounded(buffer, "ab", 6);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(end, buffer + 2);
    EXPECT_EQ(buffer[6], '\0');  // position n terminated even after a short copy
    EXPECT_EQ(buffer[3], 'x');

    end = copy_bounded(buffer, nullptr, 6);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(end, buffer);
    EXPECT_EQ(copy_bounded(nullptr, "ab", 6), nullptr);
}

TEST(AppendBounded, KeepsTheWholeTextWithinN)
{
    char buffer[16] = "abc";
    char *start = append_bounded(buffer, "defgh", 6);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(start, buffer + 3);

    char longer[16] = "abcdefghij";
    start = append_bounded(longer, "xyz", 4);
    EXPECT_STREQ(longer, "abcd");  // a text already over n is cut
    EXPECT_EQ(start, longer + 4);

    char exact[16] = "abcd";
    append_bounded(exact, "xyz", 4);
    EXPECT_STREQ(exact, "abcd");
}
