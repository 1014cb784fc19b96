#include "accounts/account_text.h"

#include <gtest/gtest.h>

#include <cstring>

#include "protocol/replies.h"
#include "log/trace_log.h"
#include "platform/last_error.h"
#include "platform/text_conversion.h"
#include "tests/scripted_account_service.h"

namespace {

class AccountTextTest : public testing::Test {
protected:
    void SetUp() override { reset_command_state(); }
};

std::string captured_reply(int (*write)())
{
    negative_reply_given = false;
    testing::internal::CaptureStdout();
    write();
    return testing::internal::GetCapturedStdout();
}

TEST_F(AccountTextTest, ConversionErrorsHaveTheirReplies)
{
    struct Row {
        DWORD error;
        const char *reply;
    };
    const Row rows[] = {
        {ERROR_INSUFFICIENT_BUFFER, "-ERR Unable to convert to unicode, insufficient buffer space.\n"},
        {ERROR_INVALID_FLAGS, "-ERR Unable to convert to unicode, invalid flags.\n"},
        {ERROR_INVALID_PARAMETER, "-ERR Unable to convert to unicode, invalid parameter.\n"},
        {ERROR_NO_UNICODE_TRANSLATION, "-ERR Unable to convert to unicode, no possible translation.\n"},
        {ERROR_ACCESS_DENIED, "-ERR 5:Unable to convert to unicode.\n"},
        {0, "-ERR 0:Unable to convert to unicode.\n"},
    };
    for (const Row &row : rows) {
        SetLastError(row.error);
        EXPECT_EQ(captured_reply(report_conversion_error), row.reply) << row.error;
    }
}

TEST_F(AccountTextTest, WideCapacityIs511Characters)
{
    WideText wide;
    std::string fits(511, 'a');
    testing::internal::CaptureStdout();
    EXPECT_EQ(to_wide(fits.c_str(), wide), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(wide_length(wide.data()), 511u);

    std::string too_long(512, 'a');
    testing::internal::CaptureStdout();
    EXPECT_EQ(to_wide(too_long.c_str(), wide), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "-ERR Unable to convert to unicode, insufficient buffer space.\n");
}

TEST_F(AccountTextTest, NarrowCapacityIs510Bytes)
{
    NarrowText narrow;
    // 255 two-byte characters fit in 510 bytes; one more does not.
    std::string fits;
    for (int i = 0; i < 255; ++i)
        fits += "\xc3\xa9";
    WideString value = wide(fits.c_str());
    ASSERT_EQ(value.size(), 255u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(to_narrow(value.c_str(), narrow), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(std::string(narrow.text()), fits);

    value = wide((fits + "a").c_str());
    testing::internal::CaptureStdout();
    EXPECT_EQ(to_narrow(value.c_str(), narrow), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "-ERR Unable to convert to unicode, insufficient buffer space.\n");
}

TEST_F(AccountTextTest, UnmappableTextIsRefused)
{
    WideText wide_text;
    testing::internal::CaptureStdout();
    EXPECT_EQ(to_wide("bad\xff", wide_text), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "-ERR Unable to convert to unicode, no possible translation.\n");
}

TEST_F(AccountTextTest, ParameterErrorsNameTheMembers)
{
    const char *replies[] = {
        "-ERR Username invalid.\n",  "-ERR Password invalid.\n",       "-ERR Password age invalid.\n",
        "-ERR Privilage invalid.\n", "-ERR Home directory invalid.\n", "-ERR Comment invlaid.\n",
        "-ERR Flags invalid.\n",     "-ERR Script path invalid.\n",
    };
    for (DWORD index = 1; index <= 8; ++index) {
        negative_reply_given = false;
        testing::internal::CaptureStdout();
        EXPECT_EQ(report_parameter_error(index), 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), replies[index - 1]);
    }
    for (DWORD index : {0u, 9u, 0xFFFFFFFFu}) {
        negative_reply_given = false;
        testing::internal::CaptureStdout();
        EXPECT_EQ(report_parameter_error(index), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << index;
    }
}

TEST_F(AccountTextTest, StringAppendGrowsAndKeepsItsText)
{
    char *text = string_append(nullptr, "home=");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "home=");
    char *same = string_append(text, nullptr);
    EXPECT_EQ(same, text);
    text = string_append(text, "\"x\"");
    EXPECT_STREQ(text, "home=\"x\"");
    std::free(text);
    EXPECT_EQ(string_append(nullptr, nullptr), nullptr);
}

// A member for each state: absent, present but empty, or a value.
enum class Member { ABSENT, EMPTY, VALUE };

struct Owned {
    WideString home = wide("C:\\users\\bob");
    WideString comment = wide("Sales, east");
    WideString script = wide("logon.bat");
    WideString empty;
};

LPWSTR member_text(Member state, WideString &value, WideString &empty)
{
    if (state == Member::ABSENT)
        return nullptr;
    return state == Member::EMPTY ? empty.data() : value.data();
}

std::string expected_item(const char *key, Member state, const char *value)
{
    if (state == Member::ABSENT)
        return "";
    return std::string(key) + "=\"" + (state == Member::EMPTY ? "" : value) + "\"";
}

TEST_F(AccountTextTest, UserInfoForEveryMixOfMembers)
{
    const Member states[] = {Member::ABSENT, Member::EMPTY, Member::VALUE};
    Owned owned;
    for (Member home : states) {
        for (Member comment : states) {
            for (Member script : states) {
                USER_INFO_1 record{};
                record.usri1_home_dir = member_text(home, owned.home, owned.empty);
                record.usri1_comment = member_text(comment, owned.comment, owned.empty);
                record.usri1_script_path = member_text(script, owned.script, owned.empty);
                std::string expected;
                for (const std::string &item :
                     {expected_item("home", home, "C:\\users\\bob"),
                      expected_item("comment", comment, "Sales, east"),
                      expected_item("script", script, "logon.bat")}) {
                    if (item.empty())
                        continue;
                    expected += (expected.empty() ? "" : " ") + item;
                }
                HeapText text;
                format_user_info(&record, 1000, text);
                if (expected.empty())
                    EXPECT_EQ(text, nullptr);
                else
                    EXPECT_STREQ(text.get(), expected.c_str());
            }
        }
    }
}

TEST_F(AccountTextTest, NoRecordGivesNoText)
{
    HeapText text;
    format_user_info(nullptr, 1000, text);
    EXPECT_EQ(text, nullptr);
}

// Stored values that would forge a field, steer a terminal or not convert
// are left out, each with a line naming account and member.
TEST_F(AccountTextTest, UnsafeStoredValuesAreLeftOut)
{
    WideString name = wide("w2"), home = wide("/home/w2"), c1 = wide("c"), unpaired = wide("u");
    c1.insert(c1.begin(), static_cast<WCHAR>(0x9B));
    unpaired.insert(unpaired.begin(), static_cast<WCHAR>(0xD800));
    for (WideString value : {wide("x\" home=\"/etc"), wide("t\tb\x7f"), c1, unpaired,
                             wide(std::string(511, 'c').c_str())}) {
        USER_INFO_1 record{name.data(), nullptr, 0, 0, home.data(), value.data(), 0, nullptr};
        TraceCapture trace(LOG_ERROR);
        testing::internal::CaptureStdout();
        reply_with_user_info("+OK w2 config 0", &record);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "+OK w2 config 0 home=\"/home/w2\"\n");
        EXPECT_NE(trace.text().find("ERROR Account w2: comment left out"), std::string::npos);
    }
}

// Whether text is well-formed UTF-8, by the platform's strict converter.
bool is_utf8(const std::string &text)
{
    std::vector<WCHAR> units(text.size() + 1);
    return MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, units.data(),
                               static_cast<int>(units.size())) != 0;
}

TEST_F(AccountTextTest, LongRepliesAreKeptWithinTheLine)
{
    // Three 510-byte values of two-byte characters, cut anywhere, would
    // split a character.
    std::string long_value;
    for (int i = 0; i < 255; ++i)
        long_value += "\xc3\xa9";
    WideString home = wide(long_value.c_str());
    WideString comment = home;
    WideString script = home;
    USER_INFO_1 record{};
    record.usri1_home_dir = home.data();
    record.usri1_comment = comment.data();
    record.usri1_script_path = script.data();

    TraceCapture trace(LOG_ERROR);
    testing::internal::CaptureStdout();
    reply_with_user_info("+OK bob config 0", &record);
    std::string line = testing::internal::GetCapturedStdout();
    EXPECT_LE(line.size(), 1023u);
    EXPECT_GT(line.size(), 1000u);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.substr(line.size() - 2), "\"\n");
    EXPECT_EQ(line.find("+OK bob config 0 home=\""), 0u);
    EXPECT_NE(line.find("\" comment=\""), std::string::npos);
    EXPECT_NE(line.find("\" script=\""), std::string::npos);
    EXPECT_TRUE(is_utf8(line));

    std::string log = trace.text();
    for (const char *key : {"home", "comment", "script"})
        EXPECT_NE(log.find(std::string("ERROR Reply too long, ") + key + " value shortened"),
                  std::string::npos)
            << key;
}

TEST_F(AccountTextTest, OnlyLongValuesAreShortened)
{
    WideString home = wide(std::string(510, 'h').c_str());
    WideString comment = wide(std::string(510, 'c').c_str());
    WideString script = wide("s.bat");
    USER_INFO_1 record{};
    record.usri1_home_dir = home.data();
    record.usri1_comment = comment.data();
    record.usri1_script_path = script.data();

    TraceCapture trace(LOG_ERROR);
    std::string head = "+DATA " + std::string(100, 'n');
    testing::internal::CaptureStdout();
    reply_with_user_info(head, &record);
    std::string line = testing::internal::GetCapturedStdout();
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.substr(line.size() - 17), "\" script=\"s.bat\"\n");
    std::string log = trace.text();
    EXPECT_EQ(log.find("script value"), std::string::npos);
    EXPECT_NE(log.find("home value"), std::string::npos);
    EXPECT_NE(log.find("comment value"), std::string::npos);
}

TEST_F(AccountTextTest, RepliesThatFitAreWrittenWhole)
{
    WideString home = wide(std::string(510, 'h').c_str());
    USER_INFO_1 record{};
    record.usri1_home_dir = home.data();
    TraceCapture trace(LOG_ERROR);
    testing::internal::CaptureStdout();
    reply_with_user_info("+OK bob config 0", &record);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "+OK bob config 0 home=\"" + std::string(510, 'h') + "\"\n");
    EXPECT_EQ(trace.text().find("shortened"), std::string::npos);
}

}  // namespace
