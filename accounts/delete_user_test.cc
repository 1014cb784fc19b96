#include "accounts/delete_user.h"

#include <gtest/gtest.h>

#include <cstring>

#include "config/settings.h"
#include "log/trace_log.h"
#include "tests/scripted_account_service.h"

namespace {

class DeleteUserTest : public testing::Test {
protected:
    void SetUp() override { reset_command_state(); }
};

TEST_F(DeleteUserTest, MissingUserAsksForHelp)
{
    TraceCapture trace(LOG_INFO);
    CommandRun run = run_command(delete_user, {"del"});
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(trace.messages(), std::vector<std::string>{"INFO Performing delete"});
}

TEST_F(DeleteUserTest, RemovesTheAccountOnTheHost)
{
    TraceCapture trace(LOG_INFO);
    CommandRun run = run_command(delete_user, {"del", "bob", "extra"});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, "+OK Deleted user succesfully.\n");
    EXPECT_TRUE(trace.has("INFO", "User (bob)"));
    ASSERT_EQ(call_names(), std::vector<std::string>{"NetUserDel"});
    EXPECT_EQ(account_script.calls[0].server, wide("\\\\TESTHOST"));
    EXPECT_EQ(account_script.calls[0].user, wide("bob"));
}

TEST_F(DeleteUserTest, WithoutHostTheLocalComputerRemoves)
{
    settings.host = "";
    run_command(delete_user, {"del", "bob"});
    EXPECT_EQ(account_script.calls.at(0).server, std::nullopt);
}

TEST_F(DeleteUserTest, FailuresHaveTheirReplies)
{
    struct Row {
        DWORD result;
        const char *reply;
    };
    const Row rows[] = {
        {ERROR_ACCESS_DENIED, "-ERR The user does not have access to the requested information.\n"},
        {NERR_UserNotFound, "+OK User account not found.\n"},
        {NERR_NotPrimary,
         "-ERR The operation is allowed only on the primary domain controller of the domain.\n"},
        {NERR_InvalidComputer, "-ERR The computer name is invalid.\n"},
        {NERR_LastAdmin, "-ERR 2452:Unknown error occurred.\n"},
    };
    for (const Row &row : rows) {
        reset_command_state();
        account_script.del_answers.push_back(row.result);
        TraceCapture trace(LOG_ERROR);
        CommandRun run = run_command(delete_user, {"del", "bob"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, row.reply);
        // Every one of them, the "+OK" line too, is the command's negative reply.
        EXPECT_TRUE(trace.has("ERROR", std::string(row.reply, std::strlen(row.reply) - 1)));
    }
}

TEST_F(DeleteUserTest, UnconvertibleNameReachesNoService)
{
    CommandRun run = run_command(delete_user, {"del", "b\xc0\xafob"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "-ERR Unable to convert to unicode, no possible translation.\n");
    EXPECT_TRUE(account_script.calls.empty());
}

}  // namespace
