#include "auth/checkpassword.h"

#include <string>

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(CheckpasswordInput, TakesUserAndPasswordWithOrWithoutTimestamp)
{
    CheckpasswordInput input;
    ASSERT_EQ(parse_checkpassword_input("ann\0 a \"b\" \0\0"s, input), 1);
    EXPECT_EQ(input.user, "ann");
    EXPECT_EQ(input.password, " a \"b\" ");
    ASSERT_EQ(parse_checkpassword_input("ann\0\0" "1700000000\0"s, input), 1);
    EXPECT_EQ(input.password, "");
    std::string longest = "u\0"s + std::string(CHECKPASSWORD_INPUT_MAX - 4, 'p') + "\0\0"s;
    EXPECT_EQ(parse_checkpassword_input(longest, input), 1);
}

TEST(CheckpasswordInput, RefusesMalformedInput)
{
    CheckpasswordInput input;
    for (const std::string &bytes :
         {""s, "ann"s, "ann\0pw\0"s, "ann\0pw\0\0extra"s, "\0pw\0\0"s,
          "u\0"s + std::string(CHECKPASSWORD_INPUT_MAX - 3, 'p') + "\0\0"s})
        EXPECT_EQ(parse_checkpassword_input(bytes, input), 0) << bytes.size();
}
