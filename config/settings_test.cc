#include "config/settings.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include "log/trace_log.h"
#include "tests/process_state.h"
#include "tests/test_support.h"

namespace {

struct Configuration : testing::Test {
    TempDir directory;
    WorkingDirectory inside{directory.path};

    void SetUp() override { reset_process_state(); }
    void TearDown() override { reset_process_state(); }

    int load(const std::string &text, const char *base = "lodgate")
    {
        write_file(directory.file("lodgate.ini"), text);
        return load_configuration(directory.path.c_str(), base);
    }
};

}  // namespace

TEST_F(Configuration, EmptyFileGivesTheDefaults)
{
    EXPECT_EQ(load(""), 1);
    EXPECT_EQ(settings.group, "Guests");
    EXPECT_EQ(settings.uname, "Lodgate 1.0i user");
    EXPECT_FALSE(settings.host);
    EXPECT_TRUE(settings.shadow);
    EXPECT_FALSE(settings.log_passwords);
    EXPECT_EQ(configuration_file_path, directory.file("lodgate.ini"));
    EXPECT_EQ(log_file, nullptr);
}

TEST_F(Configuration, ValuesKeepInnerTextAndLoseTrailingBlanks)
{
    EXPECT_EQ(load("group  Mail users # not a comment \t\r\n"
                   "host\tMAILHUB\n"
                   "uname\n"
                   "Group Other\n"
                   "# group hashed\n"
                   "\n   \n"
                   "script_path /srv/scripts"),
              1);
    EXPECT_EQ(settings.group, " Mail users # not a comment");
    EXPECT_EQ(settings.host, "MAILHUB");
    EXPECT_EQ(settings.uname, "");  // the empty value counts as set
    EXPECT_EQ(settings.script_path, "/srv/scripts");
}

TEST_F(Configuration, EmptyGroupStaysEmpty)
{
    EXPECT_EQ(load("group\n"), 1);
    EXPECT_EQ(settings.group, "");
}

TEST_F(Configuration, RepeatedKeysAndOneWayFlags)
{
    EXPECT_EQ(load("host a\nhost b\nshadow False\nlog_passwords false\n"), 1);
    EXPECT_EQ(settings.host, "b");
    EXPECT_TRUE(settings.shadow);
    EXPECT_FALSE(settings.log_passwords);
    reset_process_state();
    EXPECT_EQ(load("shadow FALSE\nshadow true\nlog_passwords TRUE\nlog_passwords false\n"), 1);
    EXPECT_FALSE(settings.shadow);
    EXPECT_TRUE(settings.log_passwords);
}

TEST_F(Configuration, ShellAndScriptShareOneField)
{
    EXPECT_EQ(load("script /bin/sh\nshell /bin/false\n"), 1);
    EXPECT_EQ(settings.script, "/bin/false");
}

TEST_F(Configuration, LevelKeys)
{
    EXPECT_EQ(load("log Debug\n"), 1);
    EXPECT_EQ(log_level, LOG_INFO);
    reset_process_state();
    EXPECT_EQ(load("debug off\n"), 1);
    EXPECT_EQ(log_level, LOG_DEBUG);
    reset_process_state();
    EXPECT_EQ(load("log error\n"), 1);
    EXPECT_EQ(log_level, LOG_ERROR);
    reset_process_state();
    EXPECT_EQ(load("log\n"), 1);
    EXPECT_EQ(log_level, LOG_INFO);
}

TEST_F(Configuration, LongLineIsReadInStretchesOf510)
{
    // 510 characters end the first read; the next 90 are a line of their own
    // whose first word is a key.
    std::string line = "host " + std::string(505, 'h') + "group tail" + std::string(80, ' ') + "\n";
    ASSERT_EQ(line.size(), 601u);
    EXPECT_EQ(load(line), 1);
    EXPECT_EQ(settings.host, std::string(505, 'h'));
    EXPECT_EQ(settings.group, "tail");
}

TEST_F(Configuration, FirstCandidateFollowsTheBaseName)
{
    write_file(directory.file("mailauth.ini"), "host from-mailauth\n");
    EXPECT_EQ(load("host from-lodgate\n", "mailauth"), 1);
    EXPECT_EQ(settings.host, "from-mailauth");
    EXPECT_EQ(configuration_file_path, directory.file("mailauth.ini"));
}

TEST_F(Configuration, AccountDatabaseKey)
{
    EXPECT_EQ(load("account_db /var/lib/lodgate/accounts.db\n"), 1);
    EXPECT_EQ(settings.account_db, "/var/lib/lodgate/accounts.db");
}

TEST_F(Configuration, FreeReleasesTextsButNotFlags)
{
    EXPECT_EQ(load("host h\nshadow false\n"), 1);
    free_configuration();
    EXPECT_FALSE(settings.host);
    EXPECT_FALSE(settings.group);
    EXPECT_FALSE(settings.shadow);
}

TEST_F(Configuration, HomeModeIsOctal)
{
    EXPECT_EQ(settings.home_mode, 0700u);
    EXPECT_EQ(load("log error\nhome_mode 2750\n"), 1);
    EXPECT_EQ(settings.home_mode, 02750u);
    for (const char *value : {"0758", "rwx", "-1", "077777", ""}) {
        reset_process_state();
        std::remove("init.log");
        EXPECT_EQ(load("log error\nhome_mode " + std::string(value) + "\n"), 1);
        EXPECT_EQ(settings.home_mode, 0700u) << value;
        std::fflush(log_file);
        EXPECT_NE(read_file("init.log").find("]ERROR "), std::string::npos) << value;
    }
}
