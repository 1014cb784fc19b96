#include "auth/caller_environment.h"
#include "auth/checkpassword.h"

#include <algorithm>
#include <cstdlib>
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

TEST(CallerEnvironment, KeepsOnlyWhatDovecotSetForItsProgram)
{
    setenv("LD_PRELOAD", "/tmp/evil.so", 1);
    setenv("PATH", "/tmp", 1);
    setenv("USER", "someone-else", 1);
    setenv("SERVICE", "imap", 1);
    setenv("AUTH_REMOTE_IP", "192.0.2.1", 1);
    setenv("AUTHORIZED", "1", 1);
    setenv("PAM_USER", "ann", 1);
    CallerEnvironment caller = take_caller_environment();
    EXPECT_EQ(std::getenv("LD_PRELOAD"), nullptr);
    EXPECT_EQ(caller.authorized, "1");
    EXPECT_EQ(caller.pam_user, "ann");

    std::vector<std::string> entries = reply_environment(caller, "Ann", std::nullopt, true);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"AUTHORIZED=2", "AUTH_REMOTE_IP=192.0.2.1",
                                                 "SERVICE=imap", "USER=Ann"}));
}
