#include "protocol/replies.h"

#include <gtest/gtest.h>
#include <string>

#include "log/trace_log.h"
#include "tests/process_state.h"
#include "tests/test_support.h"

namespace {

struct Replies : testing::Test {
    TempDir directory;
    WorkingDirectory inside{directory.path};

    void SetUp() override { reset_process_state(); }
    void TearDown() override { reset_process_state(); }
};

}  // namespace

TEST_F(Replies, OnlyTheFirstNegativeReplyOfACommandIsWritten)
{
    testing::internal::CaptureStdout();
    reply_negative("-ERR first %d", 1);
    reply_positive("+DATA between");
    reply_negative("-ERR second");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "-ERR first 1\n+DATA between\n");
    EXPECT_TRUE(negative_reply_given);
}

TEST_F(Replies, HeldBackLineStillReachesTheTraceLog)
{
    log_level = LOG_INFO;
    testing::internal::CaptureStdout();
    EXPECT_EQ(reply_negative("-ERR first"), 1);
    EXPECT_EQ(reply_negative("-ERR second"), 1);
    EXPECT_EQ(reply_positive("+OK"), 1);
    testing::internal::GetCapturedStdout();
    std::fflush(log_file);
    std::string log = read_file("init.log");
    EXPECT_NE(log.find("ERROR -ERR first\n"), std::string::npos);
    EXPECT_NE(log.find("ERROR Already given one negative response for this command, so not "
                       "writing out one on next line:\n"),
              std::string::npos);
    EXPECT_NE(log.find("ERROR -ERR second\n"), std::string::npos);
    EXPECT_NE(log.find("INFO +OK\n"), std::string::npos);
}

TEST_F(Replies, ResultFollowsTheLogCopy)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(reply_positive("%s", ""), 0);  // logging off
    EXPECT_EQ(reply_negative("-ERR x"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n-ERR x\n");
    EXPECT_FALSE(file_exists("init.log"));
}
