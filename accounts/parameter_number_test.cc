#include "platform/parameter_number.h"

#include <gtest/gtest.h>

#include "accounts/account_text.h"
#include "protocol/replies.h"

namespace {

std::string reply_for_service_number(DWORD service_number)
{
    negative_reply_given = false;
    testing::internal::CaptureStdout();
    int written = report_parameter_error(windows_parameter_index(service_number));
    std::string reply = testing::internal::GetCapturedStdout();
    return written == 1 ? reply : "(none)";
}

}  // namespace

// A member that the Windows service names must reach the daemons as the
// reply for that member, not its neighbour's.
TEST(WindowsParameterIndex, EachServiceNumberGivesItsMembersReply)
{
    struct Row {
        DWORD number;  // as lmaccess.h defines it
        const char *name;
        const char *reply;
    };
    const Row rows[] = {
        {1, "USER_NAME_PARMNUM", "-ERR Username invalid.\n"},
        {3, "USER_PASSWORD_PARMNUM", "-ERR Password invalid.\n"},
        {4, "USER_PASSWORD_AGE_PARMNUM", "-ERR Password age invalid.\n"},
        {5, "USER_PRIV_PARMNUM", "-ERR Privilage invalid.\n"},
        {6, "USER_HOME_DIR_PARMNUM", "-ERR Home directory invalid.\n"},
        {7, "USER_COMMENT_PARMNUM", "-ERR Comment invlaid.\n"},
        {8, "USER_FLAGS_PARMNUM", "-ERR Flags invalid.\n"},
        {9, "USER_SCRIPT_PATH_PARMNUM", "-ERR Script path invalid.\n"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(reply_for_service_number(row.number), row.reply) << row.name;
}

// Numbers of members that USER_INFO_1 lacks, and PARM_ERROR_UNKNOWN, reach
// the caller's "Parameter %d is in error." reply as the service gave them.
TEST(WindowsParameterIndex, OtherNumbersAreKept)
{
    for (DWORD number : {0u, 2u, 10u, 11u, 24u, 0xFFFFFFFFu})
        EXPECT_EQ(windows_parameter_index(number), number) << number;
    EXPECT_EQ(reply_for_service_number(10), "(none)");  // USER_AUTH_FLAGS_PARMNUM
    EXPECT_EQ(reply_for_service_number(0), "(none)");
}
