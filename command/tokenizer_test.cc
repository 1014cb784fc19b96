#include "command/tokenizer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> words_of(const char *line)
{
    OwnedWordList list = tokenize_line(line, "prog");
    WordList view = list.view();
    std::vector<std::string> words;
    for (int i = 1; i < view.count; ++i)
        words.emplace_back(view.words[i]);
    EXPECT_EQ(view.words[view.count], nullptr);
    EXPECT_STREQ(view.words[0], "prog");
    return words;
}

using Words = std::vector<std::string>;

}  // namespace

TEST(Tokenizer, SplitsOnSingleSpaces)
{
    EXPECT_EQ(words_of("check bob secret\n"), (Words{"check", "bob", "secret"}));
    EXPECT_EQ(words_of("a  b"), (Words{"a", "", "b"}));
    EXPECT_EQ(words_of(" a"), (Words{"", "a"}));
    EXPECT_EQ(words_of("a "), (Words{"a"}));
    EXPECT_EQ(words_of("   \n"), (Words{"", "", ""}));
    EXPECT_EQ(words_of("a\tb"), (Words{"a\tb"}));
}

TEST(Tokenizer, QuotesGroupAndAreDropped)
{
    EXPECT_EQ(words_of("set bob pw home=\"C:\\my home\" x"),
              (Words{"set", "bob", "pw", "home=C:\\my home", "x"}));
    EXPECT_EQ(words_of("a \"\" b"), (Words{"a", "", "b"}));
    EXPECT_EQ(words_of("a \"\""), (Words{"a"}));
    EXPECT_EQ(words_of("a \"b c"), (Words{"a", "b c"}));
    EXPECT_EQ(words_of("a\"b\"c"), (Words{"abc"}));
}

TEST(Tokenizer, StopsAtLineEndsAndNul)
{
    EXPECT_EQ(words_of("\r\n"), Words{});
    EXPECT_EQ(words_of("check bob\r\nextra"), (Words{"check", "bob"}));
    EXPECT_EQ(words_of("a\rb"), (Words{"a"}));
    EXPECT_EQ(words_of("\"a\nb\""), (Words{"a"}));
}

TEST(Tokenizer, ProgramPathMayBeNone)
{
    OwnedWordList list = tokenize_line("help", nullptr);
    WordList view = list.view();
    ASSERT_EQ(view.count, 2);
    EXPECT_EQ(view.words[0], nullptr);
    EXPECT_STREQ(view.words[1], "help");
}
