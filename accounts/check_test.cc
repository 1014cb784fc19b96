#include "accounts/check.h"

#include <gtest/gtest.h>

#include "protocol/replies.h"
#include "config/settings.h"
#include "log/trace_log.h"
#include "tests/scripted_account_service.h"

namespace {

class CheckTest : public testing::Test {
protected:
    void SetUp() override { reset_command_state(); }
    void TearDown() override
    {
        EXPECT_TRUE(account_script.outstanding_buffers.empty());
        EXPECT_EQ(account_script.unknown_frees, 0);
        EXPECT_EQ(account_script.open_tokens, 0);
    }
};

ScriptedUser sample_user()
{
    ScriptedUser user;
    user.name = wide("Bob");
    user.home_dir = wide("/home/bob");
    user.comment = wide("");
    user.script_path = wide("logon.bat");
    return user;
}

void accept_logon()
{
    account_script.logon_answers.push_back({TRUE, 0});
}

TEST_F(CheckTest, MissingUserAsksForHelp)
{
    TraceCapture trace(LOG_DEBUG);
    CommandRun run = run_command(do_check, {"check"});
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(trace.messages(), std::vector<std::string>{"INFO Performing Windows check"});
    EXPECT_TRUE(account_script.calls.empty());
}

TEST_F(CheckTest, MissingPasswordConsultsNothing)
{
    CommandRun run = run_command(do_check, {"check", "bob"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "-ERR User bob does not exist or password incorrect.\n");
    EXPECT_TRUE(account_script.calls.empty());
}

TEST_F(CheckTest, EmptyPasswordNeverReachesTheService)
{
    // A service that would take it for an anonymous logon says yes.
    accept_logon();
    CommandRun run = run_command(do_check, {"check", "bob", ""});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "-ERR bob does not exist or password incorrect.\n");
    EXPECT_TRUE(account_script.calls.empty());
}

TEST_F(CheckTest, LogonGoesToTheHostAndAccountInfoToTheLocalComputer)
{
    accept_logon();
    account_script.info_answers.push_back({NERR_Success, {sample_user()}, false});
    CommandRun run = run_command(do_check, {"check", "bob", "s3cret"});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, "+OK bob config 0 home=\"/home/bob\" comment=\"\" script=\"logon.bat\"\n");
    ASSERT_EQ(call_names(), (std::vector<std::string>{"LogonUserW", "NetUserGetInfo"}));
    const ServiceCall &logon = account_script.calls[0];
    EXPECT_EQ(logon.server, wide("\\\\TESTHOST"));
    EXPECT_EQ(logon.user, wide("bob"));
    EXPECT_EQ(logon.password, wide("s3cret"));
    EXPECT_EQ(logon.logon_type, LOGON32_LOGON_INTERACTIVE);
    EXPECT_EQ(logon.logon_provider, LOGON32_PROVIDER_DEFAULT);
    const ServiceCall &info = account_script.calls[1];
    EXPECT_EQ(info.server, std::nullopt);
    EXPECT_EQ(info.user, wide("bob"));
    EXPECT_EQ(info.level, 1u);
}

TEST_F(CheckTest, AccountWithoutMembersGetsTheShortForm)
{
    accept_logon();
    ScriptedUser bare;
    bare.name = wide("bob");
    account_script.info_answers.push_back({NERR_Success, {bare}, false});
    CommandRun run = run_command(do_check, {"check", "bob", "(NULL)", "extra"});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, "+OK bob config 0\n");
    EXPECT_EQ(account_script.calls[0].password, wide("(NULL)"));
}

TEST_F(CheckTest, RefusedLogonsHaveTheirReplies)
{
    struct Row {
        DWORD error;
        const char *reply;
    };
    const Row rows[] = {
        {ERROR_PRIVILEGE_NOT_HELD, "-ERR Incorrect Privilege (Velloc setup may be incorrect).\n"},
        {ERROR_LOGON_FAILURE, "-ERR bob does not exist or password incorrect.\n"},
        {ERROR_ACCOUNT_DISABLED, "-ERR 1331:Unknown error has occurred.\n"},
    };
    for (const Row &row : rows) {
        reset_command_state();
        account_script.logon_answers.push_back({FALSE, row.error});
        TraceCapture trace(LOG_DEBUG);
        CommandRun run = run_command(do_check, {"check", "bob", "wrong"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, row.reply);
        EXPECT_TRUE(trace.has("DEBUG", "Failure."));
        EXPECT_FALSE(trace.has("DEBUG", "Success."));
        EXPECT_EQ(call_names(), std::vector<std::string>{"LogonUserW"});
    }
}

TEST_F(CheckTest, AccountInfoFailuresHaveTheirReplies)
{
    struct Row {
        DWORD result;
        const char *reply;
    };
    const Row rows[] = {
        {ERROR_ACCESS_DENIED, "-ERR The user does not have access to the requested information.\n"},
        {NERR_UserNotFound, "-ERR That user does not exist.\n"},
        {NERR_InvalidComputer, "-ERR The computer name is invalid.\n"},
        {NERR_InternalError, "-ERR 2140:Unknown error has occurred.\n"},
    };
    for (const Row &row : rows) {
        reset_command_state();
        accept_logon();
        // A buffer handed out with the failure is released all the same.
        account_script.info_answers.push_back({row.result, {}, true});
        TraceCapture trace(LOG_DEBUG);
        CommandRun run = run_command(do_check, {"check", "bob", "right"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, row.reply);
        EXPECT_TRUE(trace.has("DEBUG", "Success."));
        EXPECT_TRUE(trace.has("DEBUG", "Failure."));
        EXPECT_TRUE(account_script.outstanding_buffers.empty());
        EXPECT_EQ(account_script.open_tokens, 0);
    }
}

TEST_F(CheckTest, NoHostIsDeadAndTriesNoLogon)
{
    settings.host = "";
    CommandRun run = run_command(do_check, {"check", "bob", "pw"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out,
              "-DEAD database failure (can't get hostname needed for login - check host setting "
              "in ini file)\n");
    EXPECT_TRUE(account_script.calls.empty());
}

TEST_F(CheckTest, WordsThatCannotBeConvertedAreRefused)
{
    CommandRun run = run_command(do_check, {"check", std::string(512, 'u'), "pw"});
    EXPECT_EQ(run.out, "-ERR Unable to convert to unicode, insufficient buffer space.\n");
    negative_reply_given = false;
    run = run_command(do_check, {"check", "bob", "pw\xff"});
    EXPECT_EQ(run.out, "-ERR Unable to convert to unicode, no possible translation.\n");
    EXPECT_TRUE(account_script.calls.empty());
}

TEST_F(CheckTest, UnconvertibleAccountInfoIsLeftOutOfTheReply)
{
    accept_logon();
    ScriptedUser user = sample_user();
    user.comment->push_back(static_cast<WCHAR>(0xDC00));
    account_script.info_answers.push_back({NERR_Success, {user}, false});
    CommandRun run = run_command(do_check, {"check", "bob", "pw"});
    EXPECT_EQ(run.out, "+OK bob config 0 home=\"/home/bob\" script=\"logon.bat\"\n");
}

TEST_F(CheckTest, PasswordsNeverReachTheTrace)
{
    // "-debug": every trace line is also echoed on standard output.
    echo_to_stdout = true;
    settings.log_passwords = true;
    for (bool accepted : {true, false}) {
        reset_account_script();
        account_script.logon_answers.push_back({accepted, ERROR_LOGON_FAILURE});
        account_script.info_answers.push_back({NERR_Success, {sample_user()}, false});
        TraceCapture trace(LOG_DEBUG);
        CommandRun run = run_command(do_check, {"check", "bob", "Tr0ub4dor"});
        negative_reply_given = false;
        EXPECT_TRUE(trace.has("DEBUG", "Pass = xxxx"));
        EXPECT_TRUE(trace.has("DEBUG", accepted ? "Success." : "Failure."));
        EXPECT_EQ(trace.text().find("Tr0ub4dor"), std::string::npos);
        EXPECT_EQ(run.out.find("Tr0ub4dor"), std::string::npos);
        EXPECT_NE(run.out.find("Pass = xxxx"), std::string::npos);
    }
    echo_to_stdout = false;
}

}  // namespace
