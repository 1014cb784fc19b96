#include "accounts/set_user.h"

#include <gtest/gtest.h>

#include "protocol/replies.h"
#include "config/settings.h"
#include "log/trace_log.h"
#include "platform/path_style.h"
#include "tests/scripted_account_service.h"
#include "tests/test_support.h"

namespace {

class SetUserTest : public testing::Test {
protected:
    void SetUp() override { reset_command_state(); }
    void TearDown() override
    {
        EXPECT_TRUE(account_script.outstanding_buffers.empty());
        EXPECT_EQ(account_script.unknown_frees, 0);
        EXPECT_EQ(account_script.open_changes, 0);
    }
};

// dir/name with the platform's separator.
std::string in_directory(const TempDir &dir, const std::string &name)
{
    return dir.path + PATH_SEPARATOR + name;
}

ScriptedUser existing_bob()
{
    ScriptedUser user;
    user.name = wide("bob");
    user.password_age = 77;
    user.priv = USER_PRIV_ADMIN;
    user.comment = wide("Old");
    user.flags = 0x203;
    user.script_path = wide("old.bat");
    return user;
}

TEST_F(SetUserTest, MissingWordsAskForHelp)
{
    TraceCapture trace(LOG_INFO);
    CommandRun run = run_command(set_user, {"set"});
    EXPECT_EQ(run.result, -1);
    run = run_command(set_user, {"set", "bob"});
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(trace.has("INFO", "Performing add"));
    EXPECT_TRUE(trace.has("INFO", "User (bob)"));
    EXPECT_TRUE(account_script.calls.empty());
}

TEST_F(SetUserTest, NewAccountIsCreatedAndJoined)
{
    TempDir root;
    std::string home = in_directory(root, "users") + PATH_SEPARATOR + "bob";
    TraceCapture trace(LOG_DEBUG);
    CommandRun run = run_command(set_user, {"set", "bob", "pw1", "home=" + home});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, "+OK bob added to database.\n");
    EXPECT_TRUE(file_exists(home));
    ASSERT_EQ(call_names(), (std::vector<std::string>{"NetUserAdd", "NetLocalGroupAddMembers"}));
    const ServiceCall &add = account_script.calls[0];
    EXPECT_EQ(add.server, wide("\\\\TESTHOST"));
    EXPECT_EQ(add.level, 1u);
    ASSERT_TRUE(add.record);
    EXPECT_EQ(add.record->name, wide("bob"));
    EXPECT_EQ(add.record->password, wide("pw1"));
    EXPECT_EQ(add.record->password_age, 0u);
    EXPECT_EQ(add.record->priv, USER_PRIV_USER);
    EXPECT_EQ(add.record->flags, 0x10201u);
    EXPECT_EQ(add.record->home_dir, wide(home.c_str()));
    EXPECT_EQ(add.record->comment, wide("Lodgate 1.0i user"));
    EXPECT_EQ(add.record->script_path, std::nullopt);
    const ServiceCall &join = account_script.calls[1];
    EXPECT_EQ(join.server, wide("\\\\TESTHOST"));
    EXPECT_EQ(join.group, wide("Guests"));
    EXPECT_EQ(join.level, 3u);
    EXPECT_EQ(join.members, std::vector<WideString>{wide("bob")});
    EXPECT_TRUE(trace.has("DEBUG", "Pass = xxxx"));
    EXPECT_TRUE(trace.has("DEBUG", "Joining group (Guests)"));
    EXPECT_EQ(trace.text().find("pw1"), std::string::npos);
}

TEST_F(SetUserTest, UserInfoWords)
{
    CommandRun run = run_command(set_user, {"set", "bob", "pw", "HOME=/x", "comment=a",
                                            "script=\"run.bat\"", "comment=\"b\"", "other"});
    EXPECT_EQ(run.result, 1);
    ServiceCall add = calls_of("NetUserAdd").at(0);
    EXPECT_EQ(add.record->home_dir, std::nullopt);
    EXPECT_EQ(add.record->comment, wide("b"));
    EXPECT_EQ(add.record->script_path, wide("run.bat"));

    run = run_command(set_user, {"set", "bob", "pw", "comment=", "home="});
    EXPECT_EQ(run.result, 1);
    ServiceCall second = calls_of("NetUserAdd").at(1);
    EXPECT_EQ(second.record->comment, wide(""));
    EXPECT_EQ(second.record->home_dir, wide(""));
}

TEST_F(SetUserTest, UnknownWordsAreLogged)
{
    TraceCapture trace(LOG_DEBUG);
    run_command(set_user, {"set", "bob", "pw", "HOME=C:\\x"});
    EXPECT_TRUE(trace.has("DEBUG", "Set user information {HOME=C:\\x}."));
    EXPECT_TRUE(trace.has("DEBUG", "Unknown user info {HOME=C:\\x}"));
}

TEST_F(SetUserTest, ExistingAccountIsReplacedOnce)
{
    account_script.add_answers.push_back({NERR_UserExists, 0});
    TraceCapture trace(LOG_DEBUG);
    CommandRun run = run_command(set_user, {"set", "bob", "new"});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, "+OK bob added to database.\n");
    EXPECT_EQ(call_names(), (std::vector<std::string>{"NetUserAdd", "NetUserDel", "NetUserAdd",
                                                      "NetLocalGroupAddMembers"}));
    EXPECT_EQ(calls_of("NetUserDel")[0].user, wide("bob"));
    EXPECT_EQ(calls_of("NetUserDel")[0].server, wide("\\\\TESTHOST"));
    EXPECT_EQ(calls_of("NetUserAdd")[1].record->password, wide("new"));
    EXPECT_TRUE(trace.has("DEBUG", "Removing existing user."));
}

TEST_F(SetUserTest, ReplacementIsOneChangeAndItsLossIsNoSuccess)
{
    account_script.add_answers.push_back({NERR_UserExists, 0});
    account_script.change_end_answer = NERR_InternalError;
    CommandRun run = run_command(set_user, {"set", "bob", "new"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "-ERR 2140:Unknown error has occurred.\n");
    EXPECT_EQ(account_script.changes_ended, 1);
    // A failed call inside the change keeps its own reply.
    reset_command_state();
    account_script.add_members_answers.push_back(NERR_GroupNotFound);
    account_script.change_end_answer = NERR_InternalError;
    run = run_command(set_user, {"set", "bob", "new"});
    EXPECT_EQ(run.out, "-ERR Group Guests does not exist.\n");
    EXPECT_EQ(account_script.changes_ended, 1);
}

TEST_F(SetUserTest, SecondUserExistsIsAnUnknownError)
{
    account_script.add_answers.push_back({NERR_UserExists, 0});
    account_script.add_answers.push_back({NERR_UserExists, 0});
    account_script.add_answers.push_back({NERR_UserExists, 0});
    CommandRun run = run_command(set_user, {"set", "bob", "new"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "-ERR 2224:Unknown error has occurred.\n");
    EXPECT_EQ(call_names(), (std::vector<std::string>{"NetUserAdd", "NetUserDel", "NetUserAdd"}));
}

struct Row {
    DWORD result;
    const char *reply;
};

TEST_F(SetUserTest, FailedRemovalEndsTheReplacement)
{
    const Row rows[] = {
        {ERROR_ACCESS_DENIED, "-ERR The user does not have access to the requested information.\n"},
        {NERR_NotPrimary,
         "-ERR The operation is allowed only on the primary domain controller of the domain.\n"},
        {NERR_InvalidComputer, "-ERR The computer name is invalid.\n"},
        {NERR_UserNotFound, "-ERR 2221:Unknown error has occurred.\n"},
    };
    for (const Row &row : rows) {
        reset_command_state();
        account_script.add_answers.push_back({NERR_UserExists, 0});
        account_script.del_answers.push_back(row.result);
        CommandRun run = run_command(set_user, {"set", "bob", "new"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, row.reply);
        EXPECT_EQ(call_names(), (std::vector<std::string>{"NetUserAdd", "NetUserDel"}));
    }
}

TEST_F(SetUserTest, CreationFailuresHaveTheirReplies)
{
    const Row rows[] = {
        {ERROR_ACCESS_DENIED, "-ERR The user does not have access to the requested information.\n"},
        {ERROR_BAD_NETPATH, "-ERR 53:The network path was not found.\n"},
        {NERR_GroupExists, "-ERR The group already exists.\n"},
        {NERR_NotPrimary,
         "-ERR The operation is allowed only on the primary domain controller of the domain.\n"},
        {NERR_PasswordTooShort, "-ERR The password is shorter than required.\n"},
        {NERR_InvalidComputer, "-ERR The computer name is invalid.\n"},
        {NERR_LastAdmin, "-ERR 2452:Unknown error has occurred.\n"},
    };
    for (const Row &row : rows) {
        reset_command_state();
        account_script.add_answers.push_back({row.result, 0});
        CommandRun run = run_command(set_user, {"set", "bob", "pw"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, row.reply);
        EXPECT_EQ(call_names(), std::vector<std::string>{"NetUserAdd"});
    }
}

TEST_F(SetUserTest, InvalidParameterNamesTheMember)
{
    account_script.add_answers.push_back({ERROR_INVALID_PARAMETER, 6});
    CommandRun run = run_command(set_user, {"set", "bob", "pw"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "-ERR Comment invlaid.\n");

    negative_reply_given = false;
    account_script.add_answers.push_back({ERROR_INVALID_PARAMETER, 12});
    run = run_command(set_user, {"set", "bob", "pw"});
    EXPECT_EQ(run.out, "-ERR Parameter 12 is in error.\n");
}

TEST_F(SetUserTest, GroupJoinFailuresUndoTheChange)
{
    settings.group = "Mail Users";
    const Row rows[] = {
        {ERROR_MEMBER_IN_ALIAS, "-ERR User was already a member of group Mail Users.\n"},
        {ERROR_INVALID_MEMBER, "-ERR User account is invalid.\n"},
        {NERR_GroupNotFound, "-ERR Group Mail Users does not exist.\n"},
        {ERROR_ACCESS_DENIED, "-ERR 5:Unknown group error.\n"},
    };
    for (const Row &row : rows) {
        negative_reply_given = false;
        reset_account_script();
        account_script.add_members_answers.push_back(row.result);
        CommandRun run = run_command(set_user, {"set", "bob", "pw"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, row.reply);
        EXPECT_EQ(call_names(),
                  (std::vector<std::string>{"NetUserAdd", "NetLocalGroupAddMembers"}));
        EXPECT_EQ(account_script.changes_undone, 1);
    }
}

TEST_F(SetUserTest, RefusedPasswordCreatesNothing)
{
    TempDir root;
    std::string home = in_directory(root, "bob");
    account_script.min_password_length = 8;
    for (const char *password : {"seven77", ""}) {
        negative_reply_given = false;
        CommandRun run = run_command(set_user, {"set", "bob", password, "home=" + home});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, "-ERR The password is shorter than required.\n");
    }
    // Empty is refused whatever the policy says.
    account_script.min_password_length = 0;
    negative_reply_given = false;
    EXPECT_EQ(run_command(set_user, {"set", "bob", ""}).out,
              "-ERR The password is shorter than required.\n");
    EXPECT_FALSE(file_exists(home));
    EXPECT_TRUE(account_script.calls.empty());
}

TEST_F(SetUserTest, EmptyGroupIsStillJoined)
{
    settings.group = "";
    account_script.add_members_answers.push_back(NERR_GroupNotFound);
    CommandRun run = run_command(set_user, {"set", "bob", "pw"});
    EXPECT_EQ(run.out, "-ERR Group  does not exist.\n");
    EXPECT_EQ(calls_of("NetLocalGroupAddMembers").at(0).group, wide(""));
}

TEST_F(SetUserTest, ConversionFailuresChangeNothing)
{
    const std::vector<std::vector<std::string>> commands = {
        {"set", std::string(512, 'u'), "pw"},
        {"set", "bob", "p\xff"},
        {"set", "bob", "pw", "comment=" + std::string(512, 'c')},
        {"set", "bob", "pw", "script=\"\xc3\""},
    };
    for (const std::vector<std::string> &words : commands) {
        negative_reply_given = false;
        CommandRun run = run_command(set_user, words);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out.rfind("-ERR Unable to convert to unicode, ", 0), 0u) << run.out;
    }
    settings.group = "G\xff";
    negative_reply_given = false;
    EXPECT_EQ(run_command(set_user, {"set", "bob", "pw"}).result, 0);
    EXPECT_TRUE(account_script.calls.empty());
}

TEST_F(SetUserTest, LowerCaseNullIsAPassword)
{
    CommandRun run = run_command(set_user, {"set", "bob", "(null)"});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(calls_of("NetUserAdd").at(0).record->password, wide("(null)"));
    EXPECT_TRUE(calls_of("NetUserGetInfo").empty());
}

TEST_F(SetUserTest, NullPasswordUpdatesAnExistingAccount)
{
    TempDir root;
    std::string home = in_directory(root, "bob");
    ScriptedUser bob = existing_bob();
    bob.home_dir = wide(home.c_str());
    account_script.info_answers.push_back({NERR_Success, {bob}, false});
    account_script.info_answers.push_back({NERR_Success, {bob}, false});
    TraceCapture trace(LOG_INFO);
    CommandRun run = run_command(set_user, {"set", "bob", "(NULL)", "comment=Sales"});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, "+OK User bob added to database.\n");
    EXPECT_TRUE(trace.has("INFO", "Performing update"));
    // The account's own home directory was provisioned.
    EXPECT_TRUE(file_exists(home));
    EXPECT_EQ(call_names(),
              (std::vector<std::string>{"NetUserGetInfo", "NetUserGetInfo", "NetUserSetInfo"}));
    ServiceCall write = calls_of("NetUserSetInfo").at(0);
    EXPECT_EQ(write.server, wide("\\\\TESTHOST"));
    EXPECT_EQ(write.user, wide("bob"));
    EXPECT_EQ(write.level, 1u);
    EXPECT_EQ(write.record->comment, wide("Sales"));
    EXPECT_EQ(write.record->home_dir, wide(home.c_str()));
    EXPECT_EQ(write.record->script_path, wide("old.bat"));
    EXPECT_EQ(write.record->password, std::nullopt);
    EXPECT_EQ(write.record->password_age, 77u);
    EXPECT_EQ(write.record->priv, USER_PRIV_ADMIN);
    EXPECT_EQ(write.record->flags, 0x203u);
    EXPECT_TRUE(calls_of("NetUserAdd").empty());
    EXPECT_TRUE(calls_of("NetLocalGroupAddMembers").empty());
}

TEST_F(SetUserTest, UpdateAppliesTheDefaultCommentOnlyWhenAbsent)
{
    ScriptedUser bob = existing_bob();
    bob.comment.reset();
    account_script.info_answers.push_back({NERR_Success, {bob}, false});
    account_script.info_answers.push_back({NERR_Success, {bob}, false});
    run_command(set_user, {"set", "bob", "(NULL)"});
    EXPECT_EQ(calls_of("NetUserSetInfo").at(0).record->comment, wide("Lodgate 1.0i user"));
}

TEST_F(SetUserTest, NullPasswordForAMissingAccountCreatesNothing)
{
    account_script.info_answers.push_back({NERR_UserNotFound, {}, false});
    CommandRun run = run_command(set_user, {"set", "ghost", "(NULL)", "comment=x"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "-ERR User account not found.\n");
    EXPECT_EQ(call_names(), std::vector<std::string>{"NetUserGetInfo"});
}

TEST_F(SetUserTest, FailedProbeEndsTheCommandWithItsReply)
{
    const Row rows[] = {
        {ERROR_ACCESS_DENIED, "-ERR The user does not have access to the requested information.\n"},
        {NERR_InvalidComputer, "-ERR The computer name is invalid.\n"},
        {NERR_InternalError, "-ERR 2140:Unknown error occurred.\n"},
    };
    for (const Row &row : rows) {
        reset_command_state();
        account_script.info_answers.push_back({row.result, {}, true});
        CommandRun run = run_command(set_user, {"set", "bob", "(NULL)"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, row.reply);
        EXPECT_EQ(call_names(), std::vector<std::string>{"NetUserGetInfo"});
    }
}

TEST_F(SetUserTest, UpdateReadFailuresHaveTheirReplies)
{
    const Row rows[] = {
        {ERROR_ACCESS_DENIED, "-ERR The user does not have access to the requested information.\n"},
        {NERR_UserNotFound, "-ERR User account not found.\n"},
        {NERR_InvalidComputer, "-ERR The computer name is invalid.\n"},
        {NERR_InternalError, "-ERR 2140:Unknown error has occurred.\n"},
    };
    for (const Row &row : rows) {
        reset_command_state();
        // The account vanishes between the probe and the update.
        account_script.info_answers.push_back({NERR_Success, {existing_bob()}, false});
        account_script.info_answers.push_back({row.result, {}, true});
        CommandRun run = run_command(set_user, {"set", "bob", "(NULL)"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, row.reply);
        EXPECT_TRUE(calls_of("NetUserSetInfo").empty());
    }
}

TEST_F(SetUserTest, UpdateWriteFailuresHaveTheirReplies)
{
    struct WriteRow {
        ScriptedWrite answer;
        const char *reply;
    };
    const WriteRow rows[] = {
        {{ERROR_ACCESS_DENIED, 0},
         "-ERR The user does not have access to the requested information.\n"},
        {{ERROR_INVALID_PARAMETER, 6}, "-ERR Comment invlaid.\n"},
        {{ERROR_INVALID_PARAMETER, 12}, "-ERR Parameter 12 is in error.\n"},
        {{NERR_BadPassword, 0}, "-ERR The share name or password is invalid.\n"},
        {{NERR_UserNotFound, 0}, "-ERR User account not found.\n"},
        {{NERR_NotPrimary, 0},
         "-ERR The operation is allowed only on the primary domain controller of the domain.\n"},
        {{NERR_SpeGroupOp, 0},
         "-ERR This operation is not allowed while you are a member or your current group.\n"},
        {{NERR_PasswordTooShort, 0}, "-ERR The password is shorter than required.\n"},
        {{NERR_InvalidComputer, 0}, "-ERR The computer name is invalid.\n"},
        {{NERR_LastAdmin, 0},
         "-ERR This operation is not allowed on the last administrative account.\n"},
        {{ERROR_BAD_NETPATH, 0}, "-ERR 53:Unknown error has occurred.\n"},
    };
    for (const WriteRow &row : rows) {
        reset_command_state();
        account_script.info_answers.push_back({NERR_Success, {existing_bob()}, false});
        account_script.info_answers.push_back({NERR_Success, {existing_bob()}, false});
        account_script.set_info_answers.push_back(row.answer);
        CommandRun run = run_command(set_user, {"set", "bob", "(NULL)"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, row.reply);
    }
}

#ifndef _WIN32
TEST_F(SetUserTest, MissingHomeParentStopsBeforeTheAccount)
{
    TempDir root;
    std::string home = root.path + "/dangling/bob";
    ASSERT_EQ(symlink((root.path + "/nowhere").c_str(), (root.path + "/dangling").c_str()), 0);
    CommandRun run = run_command(set_user, {"set", "bob", "pw", "home=" + home});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "-ERR Unable to create home directory '" + root.path +
                           "/dangling', Symbolic link refused\n");
    EXPECT_TRUE(account_script.calls.empty());
}
#endif

TEST_F(SetUserTest, RelativeHomeIsNeitherProbedNorCreated)
{
    TempDir root;
    TraceCapture trace(LOG_DEBUG);
    CommandRun run = run_command(set_user, {"set", "bob", "pw", "home=users/bob"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "-ERR Unable to create home directory 'users/bob', Not an absolute path\n");
    EXPECT_TRUE(account_script.calls.empty());
    EXPECT_TRUE(trace.has("DEBUG", "Checking user directory 'users/bob'"));
    EXPECT_TRUE(trace.has("INFO", "Find home directory {users/bob}"));
    EXPECT_EQ(trace.text().find("Create ("), std::string::npos);
    EXPECT_FALSE(file_exists("users"));
}

TEST(UserInfoValue, QuotesAndBounds)
{
    EXPECT_EQ(user_info_value(nullptr), nullptr);
    EXPECT_STREQ(user_info_value("home=\"C:\\a b\""), "C:\\a b");
    EXPECT_STREQ(user_info_value("home=\"x"), "x");
    EXPECT_STREQ(user_info_value("home=x\""), "x");
    EXPECT_STREQ(user_info_value("comment=a\"b=c"), "a\"b=c");
    EXPECT_STREQ(user_info_value("home="), "");
    EXPECT_STREQ(user_info_value("home=\""), "");
    std::string long_word = "home=" + std::string(600, 'x');
    EXPECT_EQ(std::string(user_info_value(long_word.c_str())), std::string(512, 'x'));
}

TEST(SamePrefix, ComparesTheFirstBytes)
{
    EXPECT_EQ(same_prefix("home=x", "home=", 5), 0);
    EXPECT_NE(same_prefix("HOME=x", "home=", 5), 0);
    EXPECT_NE(same_prefix("hom", "home=", 5), 0);
    EXPECT_EQ(same_prefix(nullptr, "home=", 5), 1);
    EXPECT_EQ(same_prefix("home=", nullptr, 5), 1);
}

}  // namespace
