#include "log/paths.h"

#include <gtest/gtest.h>
#include <string>

TEST(CleanFileName, KeepsTheSafeCharactersOnly)
{
    EXPECT_STREQ(clean_file_name_with("my-auth prog", '\\'), "myauth_prog");
    EXPECT_STREQ(clean_file_name_with("a b ", '\\'), "a_b");
    EXPECT_STREQ(clean_file_name_with("_", '\\'), "_");
    EXPECT_STREQ(clean_file_name_with("x.y_z*:\\@$~/\t\xe9", '\\'), "x.y_z*:\\@");
    EXPECT_STREQ(clean_file_name_with("x.y/z\\w", '/'), "x.y/zw");
    EXPECT_STREQ(clean_file_name(nullptr), "");
}

TEST(JoinPath, WindowsForm)
{
    EXPECT_STREQ(join_path_with("C:\\work", "lodgate.ini", '\\'), "C:\\work\\lodgate.ini");
    EXPECT_STREQ(join_path_with("C:\\work\\", "\\x.log", '\\'), "C:\\work\\x.log");
    EXPECT_STREQ(join_path_with("C:\\work\\", "x.log", '\\'), "C:\\work\\x.log");
    EXPECT_STREQ(join_path_with("C:\\work", "\\x.log", '\\'), "C:\\work\\x.log");
    EXPECT_STREQ(join_path_with(nullptr, "x.ini", '\\'), "x.ini");
    EXPECT_STREQ(join_path_with("", "x.ini", '\\'), "x.ini");
    EXPECT_STREQ(join_path_with("C:\\work", "", '\\'), "C:\\work");
    EXPECT_STREQ(join_path_with(nullptr, nullptr, '\\'), "");
    // Only the backslash separates in this form.
    EXPECT_STREQ(join_path_with("C:/work/", "x.ini", '\\'), "C:/work/\\x.ini");
}

TEST(JoinPath, PosixForm)
{
    EXPECT_STREQ(join_path_with("/var/log", "lodgate.log", '/'), "/var/log/lodgate.log");
    EXPECT_STREQ(join_path_with("/var/log/", "lodgate.log", '/'), "/var/log/lodgate.log");
    EXPECT_STREQ(join_path_with("/", "my prog", '/'), "/my_prog");
    EXPECT_STREQ(join_path("/srv", "x.ini"), "/srv/x.ini");
}

TEST(JoinPath, ResultIsBoundedTo511Characters)
{
    std::string directory(600, 'd');
    std::string joined = join_path_with(directory.c_str(), "x.ini", '/');
    EXPECT_EQ(joined, std::string(511, 'd'));
}
