#include "log/trace_log.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>

#include "tests/process_state.h"
#include <unistd.h>
#include "tests/test_support.h"

namespace {

struct TraceLog : testing::Test {
    TempDir directory;
    WorkingDirectory inside{directory.path};

    void SetUp() override { reset_process_state(); }
    void TearDown() override { reset_process_state(); }
};

}  // namespace

TEST_F(TraceLog, NothingAtAllWhileLoggingIsOff)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(log_error("x"), 0);
    EXPECT_EQ(log_info("x"), 0);
    EXPECT_EQ(log_debug("x"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(file_exists("init.log"));
}

TEST_F(TraceLog, FirstLineWithoutAFileOpensInitLog)
{
    log_level = LOG_DEBUG;
    EXPECT_EQ(log_info("Performing %s", "help"), 1);
    std::fflush(log_file);
    std::string text = read_file("init.log");
    std::regex expected(
        "^[ 123][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}:\\[[0-9]+\\]DEBUG Opening \\[init\\.log\\]\n"
        "[^\n]*\\]INFO Lodgate version 1\\.0i starts\\.\n"
        "[^\n]*\\]INFO Performing help\n$");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(TraceLog, LevelFilterAndEchoAreIndependent)
{
    log_level = LOG_ERROR;
    echo_to_stdout = true;
    testing::internal::CaptureStdout();
    log_info("only on stdout");
    log_error("in both");
    std::string out = testing::internal::GetCapturedStdout();
    std::fflush(log_file);
    std::string text = read_file("init.log");
    EXPECT_NE(out.find("]INFO only on stdout\n"), std::string::npos);
    EXPECT_NE(out.find("]ERROR in both\n"), std::string::npos);
    EXPECT_EQ(text.find("only on stdout"), std::string::npos);
    EXPECT_NE(text.find("]ERROR in both\n"), std::string::npos);
}

TEST_F(TraceLog, ReopeningClosesTheOldFileWithItsEndsLine)
{
    log_level = LOG_DEBUG;
    ASSERT_EQ(mkdir("a", 0700), 0);
    ASSERT_EQ(mkdir("b", 0700), 0);
    open_log_file("a", "lodgate");
    log_info("first");
    open_log_file("b", "lodgate");
    log_info("second");
    EXPECT_EQ(close_log_file(), 1);
    std::string first = read_file("a/lodgate.log");
    std::string second = read_file("b/lodgate.log");
    EXPECT_NE(first.find("INFO first\n"), std::string::npos);
    EXPECT_NE(first.find("INFO Lodgate version 1.0i ends.\n"), std::string::npos);
    EXPECT_NE(first.find("DEBUG fclose called on ("), std::string::npos);
    EXPECT_EQ(second.find("first"), std::string::npos);
    EXPECT_NE(second.find("DEBUG Opening [b/lodgate.log]\n"), std::string::npos);
    EXPECT_NE(second.find("INFO second\n"), std::string::npos);
    EXPECT_EQ(log_file, nullptr);
    EXPECT_EQ(close_log_file(), 1);
}

TEST_F(TraceLog, OpeningRaisesAnOffLevelToInfo)
{
    open_log_file(nullptr, "init.log");
    EXPECT_EQ(log_level, LOG_INFO);
    EXPECT_TRUE(file_exists("init.log"));
}

TEST_F(TraceLog, LevelWords)
{
    set_log_level_word("error");
    EXPECT_EQ(log_level, LOG_ERROR);
    set_log_level_word(nullptr);
    EXPECT_EQ(log_level, LOG_ERROR);
    set_log_level_word("debug");
    EXPECT_EQ(log_level, LOG_DEBUG);
    set_log_level_word("DEBUG");
    EXPECT_EQ(log_level, LOG_INFO);
    set_log_level_word("");
    EXPECT_EQ(log_level, LOG_INFO);
    EXPECT_STREQ(log_level_word(1), "ERROR");
    EXPECT_STREQ(log_level_word(3), "DEBUG");
    EXPECT_STREQ(log_level_word(7), "INFO");
}

TEST_F(TraceLog, TracedFileOperationsWithoutTheirObject)
{
    log_level = LOG_DEBUG;
    errno = 5;
    EXPECT_EQ(traced_fopen(nullptr, "r"), nullptr);
    EXPECT_EQ(errno, 0);
    errno = 5;
    EXPECT_EQ(traced_fclose(nullptr), 1);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(traced_fopen("missing/file", "r"), nullptr);
    EXPECT_EQ(errno, ENOENT);  // kept for the caller's error text
    std::fflush(log_file);
    std::string text = read_file("init.log");
    EXPECT_NE(text.find("ERROR fopen called on NULL\n"), std::string::npos);
    EXPECT_NE(text.find("DEBUG fclose on NULL\n"), std::string::npos);
    EXPECT_NE(text.find("DEBUG fopen called on (missing/file) with style (r) gives FILE * ("),
              std::string::npos);
}

TEST_F(TraceLog, NewFileIsPrivateAndALinkIsNotFollowed)
{
    mode_t saved = umask(0);
    open_log_file(nullptr, "new.log");
    write_file("kept.log", "");
    ASSERT_EQ(chmod("kept.log", 0640), 0);
    open_log_file(nullptr, "kept.log");
    umask(saved);
    struct stat status {};
    ASSERT_EQ(stat("new.log", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_EQ(stat("kept.log", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);

    write_file("target", "");
    ASSERT_EQ(symlink("target", "planted.log"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(open_log_file(nullptr, "planted.log"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("-DEAD Unable to create log file", 0),
              0u);
    EXPECT_EQ(read_file("target"), "");
}

// A FIFO, read or not (its open once hung), and a second name of another
// file are refused at once; neither gets a line.
TEST_F(TraceLog, OnlyARegularFileOfOneNameIsAppendedTo)
{
    write_file("target", "");
    ASSERT_EQ(link("target", "hard.log") + mkfifo("read.log", 0600) + mkfifo("unread.log", 0600), 0);
    int reader = open("read.log", O_RDONLY | O_NONBLOCK);
    for (const char *name : {"hard.log", "read.log", "unread.log"}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(open_log_file(nullptr, name), 0) << name;
        EXPECT_EQ(testing::internal::GetCapturedStdout().find("-DEAD Unable"), 0u) << name;
    }
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0);
    close(reader);
    EXPECT_EQ(read_file("target"), "");
}

TEST(LogTimeText, DayTimeAndYear)
{
    std::string text = log_time_text();
    EXPECT_TRUE(std::regex_match(text, std::regex("[ 123][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}")))
        << text;
    EXPECT_EQ(log_process_id(), log_process_id());
}
