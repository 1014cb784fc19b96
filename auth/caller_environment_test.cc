#include "auth/caller_environment.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
