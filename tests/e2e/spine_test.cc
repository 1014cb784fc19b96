// The module as its daemons and administrators meet it: start-up switches,
// the configuration search, the trace log and the command loop.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/test_support.h"

namespace {

using Lines = std::vector<std::string>;

const Lines HELP_LISTING = {
    "+DATA Valid commands",
    "+DATA   set <user> <pass>|(NULL) home=\"<dir>\" script=\"<file>\" comment=\"<text>\"",
    "+DATA   del <user>",
    "+DATA   check <user> <pass>",
    "+DATA   lookup <user>",
    "+DATA   version <text>",
    "+DATA   help",
    "+DATA   quit",
    "+DATA   exit",
    "+OK",
};

struct Module : testing::Test {
    TempDir directory;

    void configure(const std::string &text) { write_file(directory.file("lodgate.ini"), text); }

    RunResult run(const std::vector<std::string> &args, const std::string &input = "")
    {
        return run_lodgate(args, RunOptions{directory.path, "", input});
    }

    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(directory.path))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string log() const { return read_file(directory.file("lodgate.log")); }
};

}  // namespace

TEST_F(Module, VersionSwitchEndsBeforeTheConfigurationIsRead)
{
    RunResult result = run({"check", "bob", "x", "-version"});
    EXPECT_EQ(result.out, "Quorvane's Lodgate module, Version 1.0i\n");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_TRUE(files().empty());

    result = run({"-debug", "-version"});
    EXPECT_EQ(lines_of(result.out),
              (Lines{"-debug found, logging to stdout, NB: don't use this option when being run "
                     "by vellsend or vellfetch!",
                     "Quorvane's Lodgate module, Version 1.0i"}));
    EXPECT_EQ(result.exit_status, 0);
}

TEST_F(Module, CommandLineModeRunsOneCommand)
{
    configure("");
    RunResult result = run({"version"}, "help\n");
    EXPECT_EQ(result.out, "+OK Lodgate version 1.0i\n");
    EXPECT_EQ(result.exit_status, 0);

    result = run({"check"});  // incomplete: the help listing, no negative reply
    EXPECT_EQ(lines_of(result.out), HELP_LISTING);

    result = run({"help"});
    EXPECT_EQ(lines_of(result.out), HELP_LISTING);
    EXPECT_TRUE(result.err.empty());
    EXPECT_EQ(files(), (std::vector<std::string>{"lodgate.ini"}));  // logging off: no file
}

TEST_F(Module, EchoedWordsCannotForgeAReplyLine)
{
    configure("");
    RunResult result = run({"bogus\n+OK"});
    EXPECT_EQ(result.out, "-ERR Not a valid command (bogus +OK) use \"help\"\n");
    result = run({"bogus\r\n+OK\r"});
    EXPECT_EQ(lines_of(result.out).size(), 1u);

    std::string huge(100000, 'w');
    result = run({huge});
    ASSERT_EQ(lines_of(result.out).size(), 1u);
    EXPECT_EQ(result.out.size(), 1023u);
    EXPECT_EQ(result.out.back(), '\n');
    EXPECT_EQ(result.exit_status, 0);
}

TEST_F(Module, TerminalModeAnswersEveryLine)
{
    configure("");
    RunResult result = run({}, "version\n\nCHECK\n\n-quit\n   \nhelp\nquit\nversion\n");
    Lines expected = {"+OK Lodgate version 1.0i",
                      "-ERR Not a valid command (nocommand) use help",
                      "-ERR Not a valid command (CHECK) use \"help\"",
                      "-ERR Not a valid command (nocommand) use help",
                      "-ERR Not a valid command (-quit) use \"help\"",
                      "-ERR Not a valid command () use \"help\""};
    expected.insert(expected.end(), HELP_LISTING.begin(), HELP_LISTING.end());
    expected.push_back("+OK");
    EXPECT_EQ(lines_of(result.out), expected);
    EXPECT_EQ(result.exit_status, 0);
}

TEST_F(Module, TerminalModeInputForms)
{
    configure("");
    // CR LF line ends, a line of a lone CR (options only: no reply), quotes and
    // tabs inside words.
    RunResult result = run({}, "version\r\n\r\n\"ver sion\"\nver\tsion\nexit\n");
    EXPECT_EQ(lines_of(result.out),
              (Lines{"+OK Lodgate version 1.0i", "-ERR Not a valid command (ver sion) use \"help\"",
                     "-ERR Not a valid command (ver sion) use \"help\"", "+OK"}));
}

TEST_F(Module, EndOfInputEndsAsQuitDoes)
{
    configure("path " + directory.path + "\n");
    RunResult result = run({}, "version\n");
    EXPECT_EQ(result.out, "+OK Lodgate version 1.0i\n");
    EXPECT_EQ(result.exit_status, 0);
    Lines messages = log_messages(log());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "INFO Lodgate version 1.0i ends.");

    result = run({});  // no input at all
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exit_status, 0);
}

TEST_F(Module, LinesLongerThanOneReadAreRefusedWhole)
{
    configure("");
    std::string word(509, 'v');
    // 509 characters and the line feed: one read, one command.
    RunResult result = run({}, word + "\nquit\n");
    EXPECT_EQ(lines_of(result.out),
              (Lines{"-ERR Not a valid command (" + word + ") use \"help\"", "+OK"}));
    // 510 characters, or many more: one refusal, and the next line runs.
    for (std::size_t length : {510, 1021, 5000}) {
        result = run({}, std::string(length, 'a') + "\nversion\nquit\n");
        EXPECT_EQ(lines_of(result.out),
                  (Lines{"-ERR Line too long.", "+OK Lodgate version 1.0i", "+OK"}));
    }
}

TEST_F(Module, LongLineWithoutLineFeedGetsOneReply)
{
    configure("");
    RunResult result = run({}, std::string(10 * 1024 * 1024, 'x'));
    EXPECT_EQ(result.out, "-ERR Line too long.\n");
    EXPECT_EQ(result.exit_status, 0);
}

TEST_F(Module, OptionWordsBeforeTheCommand)
{
    configure("");
    RunResult result = run({"log", "debug", "version"});
    EXPECT_EQ(result.out, "+OK Lodgate version 1.0i\n");
    EXPECT_TRUE(log_has(log(), "DEBUG", "Command {3}"));
    EXPECT_TRUE(log_has(log(), "INFO", "+OK Lodgate version 1.0i"));

    TempDir elsewhere;
    write_file(elsewhere.file("lodgate.ini"), "");
    result = run({"path", elsewhere.path, "log", "version"});
    EXPECT_EQ(result.out, "+OK Lodgate version 1.0i\n");
    std::string moved = read_file(elsewhere.file("lodgate.log"));
    EXPECT_TRUE(log_has(moved, "INFO", "Performing version"));
    EXPECT_FALSE(log_has(moved, "DEBUG", "Command {4}"));  // INFO level
}

TEST_F(Module, OptionsOnlyCommandLineGoesOnInTerminalMode)
{
    configure("");
    RunResult result = run({"path", directory.path}, "version\nquit\n");
    EXPECT_EQ(lines_of(result.out), (Lines{"+OK Lodgate version 1.0i", "+OK"}));
    result = run({}, "path /nonexistent\nlog\nversion\nquit\n");
    EXPECT_EQ(lines_of(result.out), (Lines{"+OK Lodgate version 1.0i", "+OK"}));
    EXPECT_EQ(files(), (std::vector<std::string>{"lodgate.ini"}));
}

TEST_F(Module, DebugSwitchEchoesTheTraceLog)
{
    configure("");
    RunResult result = run({"-debug"}, "version\nquit\n");
    Lines lines = lines_of(result.out);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "-debug found, logging to stdout, NB: don't use this option when being "
                        "run by vellsend or vellfetch!");
    // Each reply twice: bare and as a log line.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "+OK Lodgate version 1.0i"), lines.end());
    EXPECT_TRUE(log_has(result.out, "INFO", "+OK Lodgate version 1.0i"));
    EXPECT_TRUE(log_has(result.out, "DEBUG", "Terminal input.."));
    // The loader's lines come before any log file is known: init.log.
    std::string init = read_file(directory.file("init.log"));
    Lines init_messages = log_messages(init);
    ASSERT_GE(init_messages.size(), 2u);
    EXPECT_EQ(init_messages[0], "DEBUG Opening [init.log]");
    EXPECT_EQ(init_messages[1], "INFO Lodgate version 1.0i starts.");
    EXPECT_TRUE(log_has(init, "DEBUG", "Opened [lodgate.ini]"));
    // That file stays the log: the command-line options find one open.
    EXPECT_TRUE(log_has(init, "INFO", "Performing exit"));
    EXPECT_FALSE(file_exists(directory.file("lodgate.log")));
}

TEST_F(Module, EveryConfigurationKeyIsTraced)
{
    configure("path " + directory.path + "\n"
              "log debug\n"
              "group Mail\n"
              "script_path /srv/scripts\n"
              "host MAILHUB\n"
              "password_file /etc/passwd\n"
              "base_uid 1000\n"
              "uname Mail user\n"
              "debug off\n"
              "home_path /home\n"
              "script /bin/sh\n"
              "shell /bin/false\n"
              "shadow false\n"
              "shadow_file /etc/shadow\n"
              "sp_expire 9\n"
              "sp_min 1\n"
              "sp_max 99\n"
              "sp_warn 7\n"
              "sp_inact 3\n"
              "log_passwords TRUE\n"
              "account_db " + directory.file("accounts.db") + "\n"
              "; comment line\n"
              "Group Capital\n"
              "\n");
    RunResult result = run({"version"});
    EXPECT_EQ(result.out, "+OK Lodgate version 1.0i\n");
    std::string text = log();
    for (const char *message :
         {"Logging set to {debug}", "Group for add {Mail}", "Path to scripts {/srv/scripts}",
          "Host computer {MAILHUB}", "Password file {/etc/passwd}",
          "Base UID for user creation = 1000", "Default name for new users = Mail user",
          "Default home {/home}", "Default script / shell {/bin/sh}",
          "Default script / shell {/bin/false}", "Shadow file[/etc/shadow]",
          "Shadow password expires[9]", "Shadow minimum wait for [1] days before change",
          "Shadow maximum must change after [99] days", "Shadow warning [7] days before expiry",
          "Shadow [3] days after account expires, it is disabled",
          "WARNING Log passwords set to true"})
        EXPECT_TRUE(log_has(text, "DEBUG", message)) << message;
    EXPECT_TRUE(log_has(text, "DEBUG", "Account database {" + directory.file("accounts.db") + "}"));
    EXPECT_EQ(text.find("Capital"), std::string::npos);
    EXPECT_EQ(text.find("comment line"), std::string::npos);
    // The level was INFO when the path line opened the file.
    EXPECT_FALSE(log_has(text, "DEBUG", "Workpath {" + directory.path + "}"));
    EXPECT_FALSE(file_exists(directory.file("init.log")));
}

TEST_F(Module, PathLinesOpenAndMoveTheLog)
{
    TempDir first, second;
    configure("log debug\npath " + first.path + "\npath " + second.path + "\n");
    RunResult result = run({"version"});
    EXPECT_EQ(result.out, "+OK Lodgate version 1.0i\n");
    // The level was set before any path: its trace line went to init.log.
    std::string init = read_file(directory.file("init.log"));
    EXPECT_TRUE(log_has(init, "DEBUG", "Logging set to {debug}"));
    EXPECT_TRUE(log_has(init, "INFO", "Lodgate version 1.0i ends."));

    std::string old_log = read_file(first.file("lodgate.log"));
    Lines old_messages = log_messages(old_log);
    ASSERT_GE(old_messages.size(), 4u);
    EXPECT_EQ(old_messages[0], "DEBUG Opening [" + first.file("lodgate.log") + "]");
    EXPECT_TRUE(log_has(old_log, "DEBUG", "Workpath {" + first.path + "}"));
    EXPECT_EQ(old_messages[old_messages.size() - 2], "INFO Lodgate version 1.0i ends.");

    std::string new_log = read_file(second.file("lodgate.log"));
    EXPECT_TRUE(log_has(new_log, "DEBUG", "Workpath {" + second.path + "}"));
    EXPECT_TRUE(log_has(new_log, "INFO", "+OK Lodgate version 1.0i"));
    EXPECT_FALSE(log_has(new_log, "DEBUG", "Logging set to {debug}"));
}

TEST_F(Module, UnwritableLogPathEndsTheProcess)
{
    configure("path /nonexistent/lodgate-dir\n");
    RunResult result = run({"version"});
    EXPECT_EQ(result.out, "-DEAD Unable to create log file {/nonexistent/lodgate-dir/lodgate.log,"
                          "No such file or directory}\n");
    EXPECT_EQ(result.exit_status, 0);
}

TEST_F(Module, ProgramNameNamesTheFiles)
{
    write_file(directory.file("mailauth.ini"), "path " + directory.path + "\n");
    configure("host wrong\n");
    RunResult result = run_lodgate({"version"}, RunOptions{directory.path, "/usr/sbin/mailauth.bin", ""});
    EXPECT_EQ(result.out, "+OK Lodgate version 1.0i\n");
    EXPECT_TRUE(file_exists(directory.file("mailauth.log")));
    EXPECT_FALSE(file_exists(directory.file("lodgate.log")));
}

TEST_F(Module, ConfigurationSearchOrder)
{
    const std::string system_directory = LODGATE_SYSCONFDIR;
    const std::string build_directory = LODGATE_BUILD_DIR;
    if (system_directory.compare(0, build_directory.size(), build_directory) != 0)
        GTEST_SKIP() << "the system configuration directory is outside the build tree";
    std::filesystem::create_directories(system_directory);
    const std::string system_file = system_directory + "/lodgate.ini";
    std::filesystem::remove(system_file);

    RunResult result = run({"version"});
    EXPECT_EQ(result.out, "-DEAD Unable to open {lodgate.ini} or {" + system_file +
                              ",No such file or directory}\n");
    EXPECT_EQ(result.exit_status, 1);
    TempDir work;
    result = run({"path", work.path, "version"});
    EXPECT_EQ(result.out, "-DEAD Unable to open {" + work.file("lodgate.ini") + "} or {" +
                              system_file + ",No such file or directory}\n");
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_TRUE(files().empty());

    // Only the system file: it is read.
    write_file(system_file, "path " + directory.path + "\nlog debug\n");
    result = run({"version"});
    EXPECT_EQ(result.out, "+OK Lodgate version 1.0i\n");
    EXPECT_TRUE(log_has(log(), "DEBUG", "Logging set to {debug}"));

    // The current directory comes before it, the work path before both.
    configure("path " + directory.path + "\nlog debug\nhost from-current\n");
    write_file(work.file("lodgate.ini"), "path " + work.path + "\nlog debug\nhost from-work\n");
    run({"version"});
    EXPECT_TRUE(log_has(log(), "DEBUG", "Host computer {from-current}"));
    run({"path", work.path, "version"});
    EXPECT_TRUE(log_has(read_file(work.file("lodgate.log")), "DEBUG", "Host computer {from-work}"));
    std::filesystem::remove(system_file);
}
