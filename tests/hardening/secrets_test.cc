// What a password may not leave behind, and what a failed check may not
// tell: one unique password through every command and failure path, at
// every log level, never reaches the log, the output or the database file;
// every kind of failed check gets the same line.
#include <gtest/gtest.h>

#include "tests/hardening/installation.h"

namespace {

const std::string SECRET = "Zq8-unique-Secret-7Xw";

// Every command and failure path the password can travel.
std::string secret_session()
{
    const std::string &s = SECRET;
    // Where a command takes no password the secret is an extra word.
    return "set holder " + s + " comment=c\n"
           "check holder " + s + "\n"
           "check holder x" + s + "\n"
           "check nobody " + s + "\n"
           "check holder " + s + "\xff\n"
           "set holder " + s + " home=\xff\n"
           "set holder " + s + " comment=" + std::string(300, 'c') + "\n"
           "set holder " + s + "\xff\n"
           "set holder (NULL) comment=d\n"
           "lookup holder " + s + "\n"
           "search h* " + s + "\n"
           "del nobody " + s + "\n"
           "help " + s + "\n"
           "version " + s + "\n"
           "set holder " + s + "\n";
}

void expect_no_secret(const std::string &where, const std::string &text)
{
    for (const std::string &form : {SECRET, hex_of(SECRET), base64_of(SECRET)})
        EXPECT_EQ(text.find(form), std::string::npos) << where << " holds " << form;
}

TEST(Secrets, NoPasswordInLogOutputErrorOrDatabase)
{
    struct Mode {
        std::string log_line;
        std::vector<std::string> args;
    };
    const std::vector<Mode> modes = {
        {"", {}},           {"log error", {}},       {"log info", {}},
        {"log debug", {}},  {"log debug\nlog_passwords true", {}},
        {"log debug", {"-debug"}}, {"", {"log", "debug"}},
    };
    for (const Mode &mode : modes) {
        Installation installation(mode.log_line);
        RunResult result = installation.run(mode.args, secret_session() + "quit\n");
        SCOPED_TRACE(mode.log_line);
        ASSERT_NE(result.out.find("+OK holder added to database."), std::string::npos)
            << result.out;
        // On the command line the password is a process argument;
        // log_passwords follows the command's own words there.
        RunResult single =
            installation.run({"log", "debug", "check", "holder", SECRET, "log_passwords"});
        EXPECT_EQ(single.out.rfind("+OK holder config 0", 0), 0u) << single.out;
        for (const RunResult &run : {result, single}) {
            expect_no_secret("standard output", run.out);
            expect_no_secret("standard error", run.err);
        }
        expect_no_secret("trace log", installation.log());
        for (const char *suffix : {"", "-wal", "-shm"})
            expect_no_secret(std::string("database") + suffix,
                             read_file(installation.database + suffix));
        AccountSnapshot accounts = read_accounts(installation.database);
        EXPECT_TRUE(password_verifies(SECRET, accounts["HOLDER"].password_hash));
    }
}

TEST(Secrets, EveryFailedCheckGetsTheSameLine)
{
    Installation installation;
    ASSERT_EQ(installation.replies("set right right-pw\nset disabled right-pw\n"
                                   "set nohash right-pw\nset locked right-pw\nset held right-pw\n"),
              (Lines{"+OK right added to database.", "+OK disabled added to database.",
                     "+OK nohash added to database.", "+OK locked added to database.",
                     "+OK held added to database.", "+OK"}));
    ASSERT_TRUE(execute_sql(installation.database,
                            "UPDATE user_accounts SET flags = flags | 2 WHERE name = 'disabled';"
                            "UPDATE user_accounts SET password_hash = 'no hash'"
                            " WHERE name = 'nohash';"
                            "UPDATE user_accounts SET password_hash = '!' || password_hash"
                            " WHERE name = 'locked'"));
    // A lock as the lockout policy leaves it, on the account with the right password.
    ASSERT_TRUE(execute_sql(installation.database,
                            "UPDATE user_accounts SET failed_logons = 3,"
                            " locked_until = 9000000000 WHERE name = 'held'"));
    Lines out = installation.replies("check missing wrong-pw\ncheck right wrong-pw\n"
                                     "check disabled wrong-pw\ncheck nohash right-pw\n"
                                     "check locked right-pw\ncheck disabled right-pw\n"
                                     "check held right-pw\n");
    ASSERT_EQ(out.size(), 8u);
    for (std::size_t i = 0; i < 7; ++i) {
        std::string line = out[i];
        std::size_t space = line.find(' ');
        ASSERT_NE(space, std::string::npos);
        std::size_t user_end = line.find(' ', space + 1);
        EXPECT_EQ(line.substr(0, space + 1) + "USER" + line.substr(user_end),
                  "-ERR USER does not exist or password incorrect.");
    }
}

TEST(Secrets, PasswordsOverTheHashLimitAreRefused)
{
    Installation installation;
    ASSERT_EQ(installation.replies("set bob right-pw\n"),
              (Lines{"+OK bob added to database.", "+OK"}));
    AccountSnapshot before = read_accounts(installation.database);
    // 171 three-byte characters: 513 bytes, yet only 171 characters.
    std::string euro;
    for (int i = 0; i < 171; ++i)
        euro += "\xe2\x82\xac";
    // 129 four-byte characters: 516 bytes in 258 UTF-16 units.
    std::string emoji;
    for (int i = 0; i < 129; ++i)
        emoji += "\xf0\x9f\x98\x80";
    for (const std::string &password : {euro, emoji}) {
        EXPECT_EQ(installation.run({"check", "bob", password}).out,
                  "-ERR bob does not exist or password incorrect.\n");
        EXPECT_EQ(installation.run({"check", "nobody", password}).out,
                  "-ERR nobody does not exist or password incorrect.\n");
        EXPECT_EQ(installation.run({"set", "carol", password}).out, "-ERR Password invalid.\n");
    }
    EXPECT_EQ(read_accounts(installation.database), before);
}

}  // namespace
