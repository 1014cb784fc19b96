#include "log/line_format.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string formatted(const char *format, ...)
{
    char buffer[LINE_BUFFER_SIZE];
    va_list arguments;
    va_start(arguments, format);
    format_line(buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

}  // namespace

TEST(FormatLine, AppendsOneLineFeed)
{
    EXPECT_EQ(formatted("+OK %s", "bob"), "+OK bob\n");
    EXPECT_EQ(formatted("+OK\n"), "+OK\n");
    EXPECT_EQ(formatted(""), "\n");
}

TEST(FormatLine, InnerControlCharactersBecomeSpaces)
{
    EXPECT_EQ(formatted("-ERR Not a valid command (%s) use \"help\"", "bogus\n+OK"),
              "-ERR Not a valid command (bogus +OK) use \"help\"\n");
    EXPECT_EQ(formatted("%s", "a\r\nb\rc\n"), "a  b c\n");
    // An escape sequence would steer the terminal the log is read on.
    EXPECT_EQ(formatted("%s", "\x1b[2Jx\ty\x7f\x01\xc3\xa9"), " [2Jx y  \xc3\xa9\n");
    // U+009B is a CSI too; U+00A0 is no control.
    EXPECT_EQ(formatted("%s", "\xc2\x9b" "2J\xc2\x80\xc2\xa0"), " 2J \xc2\xa0\n");
}

TEST(FormatLine, LongTextIsCutAtTheBoundAndStillEndsTheLine)
{
    std::string word(1022, 'w');
    EXPECT_EQ(formatted("%s", word.c_str()), word + "\n");  // 1023 with its line feed

    std::string longer(5000, 'w');
    std::string line = formatted("%s", longer.c_str());
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), 1022u);
}
