// The account commands as the daemons meet them: the module as a child
// process over its own account database, one fresh installation per test.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/test_support.h"

namespace {

using Lines = std::vector<std::string>;

struct AccountCommands : testing::Test {
    TempDir directory;

    void SetUp() override { configure(""); }

    // lodgate.ini with logging at DEBUG and the test's own database, then
    // the extra lines.
    void configure(const std::string &extra)
    {
        write_file(directory.file("lodgate.ini"), "path " + directory.path +
                                                      "\nlog debug\naccount_db " +
                                                      directory.file("accounts.db") + "\n" +
                                                      extra);
    }

    RunResult run(const std::vector<std::string> &args, const std::string &input = "")
    {
        return run_lodgate(args, RunOptions{directory.path, "", input});
    }

    // The reply lines to the input lines, in terminal mode.
    Lines replies(const std::string &input) { return lines_of(run({}, input + "quit\n").out); }

    std::string log() const { return read_file(directory.file("lodgate.log")); }
};

TEST_F(AccountCommands, AnAccountFromCreationToRemoval)
{
    std::string home = directory.file("homes/bob");
    Lines out = replies("set bob pw1 home=\"" + home + "\" comment=\"Bob Smith\"\n"
                        "check bob pw1\n"
                        "check bob wrong\n"
                        "lookup bob\n"
                        "check nobody pw1\n"
                        "del bob\n"
                        "lookup bob\n"
                        "del bob\n");
    std::string info = " config 0 home=\"" + home + "\" comment=\"Bob Smith\"";
    EXPECT_EQ(out, (Lines{"+OK bob added to database.", "+OK bob" + info,
                          "-ERR bob does not exist or password incorrect.", "+OK bob" + info,
                          "-ERR nobody does not exist or password incorrect.",
                          "+OK Deleted user succesfully.", "-ERR User bob not found.",
                          "+OK User account not found.", "+OK"}));
    EXPECT_TRUE(std::filesystem::is_directory(home));
    // Removing the account leaves its home directory.
    EXPECT_TRUE(std::filesystem::exists(home));
    EXPECT_TRUE(log_has(log(), "INFO", "Performing Windows check"));
    EXPECT_TRUE(log_has(log(), "DEBUG", "Pass = xxxx"));
    EXPECT_TRUE(log_has(log(), "ERROR", "+OK User account not found."));
}

TEST_F(AccountCommands, PasswordsReachNeitherTheLogNorTheEcho)
{
    configure("log_passwords true\n");
    RunResult result = run({"-debug"}, "set carol Sekr1t-pw\ncheck carol Sekr1t-pw\n"
                                       "check carol Wr0ng-pw\nquit\n");
    EXPECT_NE(result.out.find("+OK carol added to database."), std::string::npos);
    EXPECT_NE(result.out.find("+OK carol config 0 comment=\"Lodgate 1.0i user\""),
              std::string::npos);
    for (const char *secret : {"Sekr1t-pw", "Wr0ng-pw"}) {
        EXPECT_EQ(result.out.find(secret), std::string::npos) << secret;
        EXPECT_EQ(log().find(secret), std::string::npos) << secret;
    }
}

TEST_F(AccountCommands, ReplacementAndUpdate)
{
    Lines out = replies("set bob first comment=Old script=old.bat\n"
                        "set bob second\n"
                        "check bob first\n"
                        "check bob second\n"
                        "set bob (NULL) script=new.bat\n"
                        "check bob second\n"
                        "set ghost (NULL) comment=x\n"
                        "lookup ghost\n");
    EXPECT_EQ(out, (Lines{"+OK bob added to database.", "+OK bob added to database.",
                          "-ERR bob does not exist or password incorrect.",
                          // The new account has the given members only.
                          "+OK bob config 0 comment=\"Lodgate 1.0i user\"",
                          "+OK User bob added to database.",
                          "+OK bob config 0 comment=\"Lodgate 1.0i user\" script=\"new.bat\"",
                          "-ERR User account not found.", "-ERR User ghost not found.", "+OK"}));
    EXPECT_TRUE(log_has(log(), "DEBUG", "Removing existing user."));
    EXPECT_TRUE(log_has(log(), "INFO", "Performing update"));
}

TEST_F(AccountCommands, SearchSpansSeveralBatches)
{
    // Far more accounts than one 3200-byte batch holds.
    std::string input;
    for (int i = 0; i < 80; ++i)
        input += "set user" + std::to_string(i) + " pw comment=\"Account number " +
                 std::to_string(i) + "\"\n";
    input += "search user*\nsearch user1?\nsearch user7\nsearch [^u]*\n";
    Lines out = replies(input);
    ASSERT_EQ(out.size(), 80u + 80u + 1u + 10u + 1u + 2u + 1u + 1u);
    Lines all(out.begin() + 80, out.begin() + 161);
    for (int i = 0; i < 80; ++i)
        EXPECT_EQ(all[static_cast<std::size_t>(i)],
                  "+DATA user" + std::to_string(i) + " comment=\"Account number " +
                      std::to_string(i) + "\"");
    EXPECT_EQ(all.back(), "+OK 80 entries found.");
    EXPECT_EQ(out[161], "+DATA user10 comment=\"Account number 10\"");
    EXPECT_EQ(out[171], "+OK 10 entries found.");
    EXPECT_EQ(out[172], "+DATA user7 comment=\"Account number 7\"");
    EXPECT_EQ(out[173], "+OK 1 entry found.");
    EXPECT_EQ(out[174], "+OK 0 entries found.");
}

TEST_F(AccountCommands, RefusedSetChangesNothing)
{
    // Before the fix a set refused for its group had replaced the account.
    configure("group Mail\n");
    Lines out = replies("set bob pw\nlookup bob\n");
    EXPECT_EQ(out, (Lines{"-ERR Group Mail does not exist.", "-ERR User bob not found.", "+OK"}));
    configure("");
    out = replies("set bob old-pw comment=kept\n");
    configure("group Mail\n");
    out = replies("set bob new-pw\ncheck bob old-pw\n");
    EXPECT_EQ(out, (Lines{"-ERR Group Mail does not exist.",
                          "+OK bob config 0 comment=\"kept\"", "+OK"}));
}

// A set refused (a home past 256 characters) takes back what it made.
TEST_F(AccountCommands, RefusedSetRemovesTheDirectoriesItMade)
{
    std::string kept = directory.file("kept"), home = kept + "/new/" + std::string(250, 'v');
    std::filesystem::create_directory(kept);
    Lines out = replies("set longv250 Pass12345 home=" + home + "\nset bob pw\nset bob (NULL) home=" +
                        home + "\n");
    EXPECT_EQ(out, (Lines{"-ERR Home directory invalid.", "+OK bob added to database.",
                          "-ERR Home directory invalid.", "+OK"}));
    EXPECT_TRUE(std::filesystem::is_empty(kept));
}

TEST_F(AccountCommands, MissingHomeParentWritesNoAccount)
{
    std::string link = directory.file("gone");
    ASSERT_EQ(symlink(directory.file("nowhere").c_str(), link.c_str()), 0);
    Lines out = replies("set bob pw home=" + link + "/bob\nlookup bob\n");
    EXPECT_EQ(out, (Lines{"-ERR Unable to create home directory '" + link +
                              "', Symbolic link refused",
                          "-ERR User bob not found.", "+OK"}));
}

TEST_F(AccountCommands, HostSetting)
{
    configure("host\n");
    Lines out = replies("set bob pw\ncheck bob pw\nlookup bob\n");
    EXPECT_EQ(out, (Lines{"+OK bob added to database.",
                          "-DEAD database failure (can't get hostname needed for login - check "
                          "host setting in ini file)",
                          "+OK bob config 0 comment=\"Lodgate 1.0i user\"", "+OK"}));

    configure("host ELSEWHERE\n");
    out = replies("lookup bob\nsearch *\ndel bob\n");
    EXPECT_EQ(out, (Lines{"-ERR 1311:Unknown error has occurred.",
                          "-ERR 53:Unknown error occurred.", "-ERR 53:Unknown error occurred.",
                          "+OK"}));
    EXPECT_TRUE(log_has(log(), "INFO", "Host does not start with \\\\, so changed to (\\\\ELSEWHERE)"));
}

TEST_F(AccountCommands, OneCommandFromTheCommandLine)
{
    replies("set bob pw1\n");
    RunResult result = run({"check", "bob", "pw1"});
    EXPECT_EQ(result.out, "+OK bob config 0 comment=\"Lodgate 1.0i user\"\n");
    EXPECT_EQ(result.exit_status, 0);
    result = run({"-check", "bob"});
    EXPECT_EQ(result.out, "-ERR User bob does not exist or password incorrect.\n");
    result = run({"debug", "-lookup", "bob"});
    EXPECT_EQ(result.out, "+OK bob config 0 comment=\"Lodgate 1.0i user\"\n");
    result = run({"-del", "bob"});
    EXPECT_EQ(result.out, "+OK Deleted user succesfully.\n");
}

}  // namespace
