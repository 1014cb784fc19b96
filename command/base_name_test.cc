#include "command/base_name.h"

#include <gtest/gtest.h>

TEST(BaseName, WindowsForm)
{
    EXPECT_STREQ(base_name_with("C:\\mail\\lodgate.exe", true, '\\'), "lodgate");
    EXPECT_STREQ(base_name_with("lodgate.old.exe", true, '\\'), "lodgate");
    EXPECT_STREQ(base_name_with("C:\\dir.x\\lodgate.exe", true, '\\'), "lodgate");
    EXPECT_STREQ(base_name_with("C:\\mail\\", true, '\\'), "");
    EXPECT_STREQ(base_name_with("C:/mail/lodgate.exe", false, '\\'), "C:/mail/lodgate.exe");
    EXPECT_STREQ(base_name_with(nullptr, true, '\\'), "");
}

TEST(BaseName, PosixForm)
{
    EXPECT_STREQ(base_name("/usr/sbin/lodgate", true), "lodgate");
    EXPECT_STREQ(base_name("./bin.d/mailauth.sh", true), "mailauth");
    EXPECT_STREQ(base_name("./bin.d/mailauth.sh", false), "mailauth.sh");
}
