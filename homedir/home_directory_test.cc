#include "homedir/home_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "protocol/replies.h"
#include "config/settings.h"
#include "log/trace_log.h"
#include "platform/path_style.h"
#include "platform/process.h"
#include "tests/scripted_account_service.h"
#include "tests/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include "tests/process_state.h"
#endif

namespace {

class HomeDirectoryTest : public testing::Test {
protected:
    void SetUp() override { reset_command_state(); }
};

// directory, the platform's separator and name.
std::string joined(const std::string &directory, const std::string &name)
{
    return directory + PATH_SEPARATOR + name;
}

bool is_directory(const std::string &path)
{
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

TEST_F(HomeDirectoryTest, ProbeLeavesNoFileBehind)
{
    TempDir dir;
    std::string probe = joined(dir.path, "test.tmp");
    TraceCapture trace(LOG_DEBUG);
    EXPECT_EQ(home_directory_present(dir.path.c_str()), 1);
    EXPECT_FALSE(file_exists(probe));
    EXPECT_TRUE(trace.has("INFO", "Find home directory {" + dir.path + "}"));
    EXPECT_TRUE(trace.has("DEBUG", "Opening {" + probe + "}"));
    EXPECT_TRUE(trace.has("DEBUG", "Removing {" + probe + "}"));

    EXPECT_EQ(home_directory_present((dir.path + PATH_SEPARATOR).c_str()), 1);
}

TEST_F(HomeDirectoryTest, ExistingProbeFileStaysAsItWas)
{
    TempDir dir;
    std::string probe = joined(dir.path, "test.tmp");
    write_file(probe, "keep me");
    EXPECT_EQ(home_directory_present(dir.path.c_str()), 1);
    EXPECT_EQ(read_file(probe), "keep me");
}

TEST_F(HomeDirectoryTest, MissingDirectoryIsAbsent)
{
    TempDir dir;
    EXPECT_EQ(home_directory_present(joined(dir.path, "missing").c_str()), 0);
    EXPECT_EQ(home_directory_present(nullptr), 0);
}

TEST_F(HomeDirectoryTest, OnlyLocalPathsAreProbed)
{
    EXPECT_EQ(home_directory_present_with("", '/'), -1);
    for (const char *path : {"", "\\\\server\\share"})
        EXPECT_EQ(home_directory_present_with(path, '\\'), -1) << path;
    // Relative paths are absent, so that the walk refuses them.
    for (const char *path : {"users/bob", "\\\\server\\share", "C:\\users"})
        EXPECT_EQ(home_directory_present_with(path, '/'), 0) << path;
    for (const char *path : {"x", "users\\bob", "/home/bob"})
        EXPECT_EQ(home_directory_present_with(path, '\\'), 0) << path;
}

TEST_F(HomeDirectoryTest, WalkCreatesEachMissingDirectory)
{
    TempDir dir;
    std::string users = joined(dir.path, "users");
    std::string bob = joined(users, "bob");
    std::string home = joined(bob, "mail");
    ASSERT_EQ(make_directory(users.c_str()), 0);
    TraceCapture trace(LOG_INFO);
    EXPECT_EQ(make_home_directory(home.c_str()), 1);
    EXPECT_TRUE(is_directory(home));
    EXPECT_TRUE(trace.has("INFO", "Create (" + users + ")?"));
    EXPECT_FALSE(trace.has("INFO", "Created '" + users + "' Directory"));
    EXPECT_TRUE(trace.has("INFO", "Created '" + bob + "' Directory"));
    EXPECT_TRUE(trace.has("INFO", "Created '" + home + "' Directory"));
    EXPECT_FALSE(trace.has("INFO", "Create ()?"));
    EXPECT_EQ(make_home_directory((home + PATH_SEPARATOR).c_str()), 1);
}

TEST_F(HomeDirectoryTest, RootIsNeverCreated)
{
    TraceCapture trace(LOG_INFO);
    EXPECT_EQ(make_home_directory_with("/", '/'), 1);
    EXPECT_EQ(make_home_directory_with("C:\\", '\\'), 1);
    EXPECT_EQ(trace.text().find("Create ("), std::string::npos);
    EXPECT_EQ(make_home_directory(nullptr), 0);
}

TEST_F(HomeDirectoryTest, TrailingSeparator)
{
    EXPECT_STREQ(with_trailing_backslash_with("C:\\users", '\\'), "C:\\users\\");
    EXPECT_STREQ(with_trailing_backslash_with("C:\\users\\", '\\'), "C:\\users\\");
    EXPECT_STREQ(with_trailing_backslash_with("", '\\'), "\\");
    EXPECT_STREQ(with_trailing_backslash_with("/home/bob", '/'), "/home/bob/");
    EXPECT_STREQ(with_trailing_backslash_with("/home/bob/", '/'), "/home/bob/");
    std::string long_path(600, 'p');
    EXPECT_EQ(std::string(with_trailing_backslash(long_path.c_str())),
              std::string(511, 'p') + PATH_SEPARATOR);
}

#ifndef _WIN32

// Windows paths are plain relative names on POSIX, so the Windows rules
// run on real directories in a working directory of their own.

// A working directory that has been removed: every relative mkdir and open
// fails there with ENOENT, as on a drive that does not exist.
struct InRemovedDirectory {
    TempDir dir;
    WorkingDirectory inside{dir.path};
    InRemovedDirectory() { EXPECT_EQ(rmdir(dir.path.c_str()), 0); }
};

TEST_F(HomeDirectoryTest, WindowsProbeOnAMissingDriveIsAbsent)
{
    InRemovedDirectory missing_drive;
    EXPECT_EQ(home_directory_present_with("Q:\\x", '\\'), 0);
}

TEST_F(HomeDirectoryTest, WindowsWalkStartsBelowTheDriveRoot)
{
    InRemovedDirectory missing_drive;
    TraceCapture trace(LOG_INFO);
    testing::internal::CaptureStdout();
    EXPECT_EQ(make_home_directory_with("Q:\\x\\y", '\\'), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "-ERR Unable to create home directory 'Q:\\x', No such file or directory\n");
    EXPECT_TRUE(trace.has("INFO", "Create (Q:\\x)?"));
    EXPECT_FALSE(trace.has("INFO", "Create (Q:)?"));
    EXPECT_FALSE(trace.has("INFO", "Create (Q:\\x\\y)?"));
}

TEST_F(HomeDirectoryTest, WindowsWalkTakesEachBackslashPrefix)
{
    TempDir dir;
    WorkingDirectory inside(dir.path);
    // The walk starts at the drive root, here a directory named "C:\".
    ASSERT_EQ(make_directory("C:\\"), 0);
    ASSERT_EQ(make_directory("C:\\/users"), 0);
    TraceCapture trace(LOG_INFO);
    EXPECT_EQ(make_home_directory_with("C:\\users\\bob", '\\'), 1);
    EXPECT_TRUE(is_directory("C:\\/users/bob"));
    EXPECT_TRUE(trace.has("INFO", "Create (C:\\users)?"));
    EXPECT_FALSE(trace.has("INFO", "Created 'C:\\users' Directory"));
    EXPECT_TRUE(trace.has("INFO", "Created 'C:\\users\\bob' Directory"));

    // '/' separates nothing on Windows: C:/users/bob is created in one
    // step, which fails while C:/users is missing.
    negative_reply_given = false;
    testing::internal::CaptureStdout();
    EXPECT_EQ(make_home_directory_with("C:/users/bob", '\\'), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "-ERR Unable to create home directory 'C:/users/bob', No such file or directory\n");
}

TEST_F(HomeDirectoryTest, DanglingLinkInThePathIsRefused)
{
    TempDir dir;
    ASSERT_EQ(symlink(dir.file("gone").c_str(), dir.file("link").c_str()), 0);
    std::string home = dir.file("link/bob");
    testing::internal::CaptureStdout();
    EXPECT_EQ(make_home_directory(home.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "-ERR Unable to create home directory '" +
                                                          dir.file("link") +
                                                          "', Symbolic link refused\n");
    EXPECT_FALSE(file_exists(dir.file("gone")));
}

TEST_F(HomeDirectoryTest, UnwritableParentIsNotMissing)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write anywhere";
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("locked").c_str(), 0555), 0);
    std::string home = dir.file("locked/bob");
    TraceCapture trace(LOG_INFO);
    testing::internal::CaptureStdout();
    // The walk cannot enter what it could not create.
    EXPECT_EQ(make_home_directory(home.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "-ERR Unable to create home directory '" + home + "', No such file or directory\n");
    EXPECT_TRUE(trace.has("INFO", "Directory '" + home + "' exists"));
}

// An existing directory whose path has length characters.
std::string directory_of_length(const TempDir &dir, std::size_t length)
{
    std::string path = dir.path;
    while (length - path.size() > 201) {
        path += "/" + std::string(200, 'd');
        make_directory(path.c_str());
    }
    path += "/" + std::string(length - path.size() - 1, 'e');
    make_directory(path.c_str());
    return path;
}

TEST_F(HomeDirectoryTest, OverlongProbeNameCountsAsAbsent)
{
    // 503 characters and "/test.tmp" pass the 511 of a joined path; the cut
    // name would name another file.
    TempDir dir;
    std::string too_long = directory_of_length(dir, 503);
    std::string fits = directory_of_length(dir, 502);
    ASSERT_TRUE(is_directory(too_long));
    ASSERT_TRUE(is_directory(fits));
    TraceCapture trace(LOG_DEBUG);
    EXPECT_EQ(home_directory_present(too_long.c_str()), 0);
    EXPECT_EQ(trace.text().find("Opening"), std::string::npos);
    EXPECT_EQ(home_directory_present(fits.c_str()), 1);
    EXPECT_EQ(home_directory_present((fits + "/").c_str()), 1);
}

// The reply of a walk that must be refused before it creates anything.
std::string refusal_of(const std::string &path, char separator = PATH_SEPARATOR)
{
    negative_reply_given = false;
    testing::internal::CaptureStdout();
    EXPECT_EQ(home_directory_present_with(path.c_str(), separator), 0) << path;
    EXPECT_EQ(make_home_directory_with(path.c_str(), separator), 0) << path;
    return testing::internal::GetCapturedStdout();
}

std::string refusal_line(const std::string &path, const std::string &reason)
{
    return "-ERR Unable to create home directory '" + path + "', " + reason + "\n";
}

TEST_F(HomeDirectoryTest, HomesThatLeadElsewhereAreRefused)
{
    TempDir dir;
    ASSERT_EQ(make_directory(dir.file("real").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("real").c_str(), dir.file("link").c_str()), 0);
    write_file(dir.file("passwd"), "root:x:0:0::/root:/bin/sh\n");
    EXPECT_EQ(refusal_of(dir.file("link/bob")),
              refusal_line(dir.file("link"), "Symbolic link refused"));
    EXPECT_EQ(refusal_of(dir.file("link")), refusal_line(dir.file("link"), "Symbolic link refused"));
    EXPECT_EQ(refusal_of(dir.file("passwd")), refusal_line(dir.file("passwd"), "Not a directory"));
    EXPECT_EQ(refusal_of(dir.file("real/../bob")),
              refusal_line(dir.file("real/../bob"), "Parent directory component refused"));
    EXPECT_EQ(refusal_of("users/bob"), refusal_line("users/bob", "Not an absolute path"));
    EXPECT_FALSE(file_exists(dir.file("real/bob")));
    EXPECT_FALSE(file_exists(dir.file("bob")));
    EXPECT_EQ(read_file(dir.file("passwd")), "root:x:0:0::/root:/bin/sh\n");

    for (const char *path : {"C:", "C:users", "a", "\\users"})
        EXPECT_NE(refusal_of(path, '\\').find("Not an absolute path"), std::string::npos) << path;
    for (const char *path : {"C:\\x\\..\\y", "C:\\x/../y", "C:\\x\\...", "\\\\s\\..\\y"})
        EXPECT_NE(refusal_of(path, '\\').find("Parent directory"), std::string::npos) << path;
}

TEST_F(HomeDirectoryTest, NewDirectoriesGetTheHomeModeWhateverTheUmask)
{
    TempDir dir;
    mode_t saved = umask(0);
    EXPECT_EQ(make_home_directory(dir.file("a/b").c_str()), 1);
    settings.home_mode = 0750;
    EXPECT_EQ(make_home_directory(dir.file("a/b/c").c_str()), 1);
    umask(saved);
    auto mode_of = [&](const char *name) {
        struct stat status {};
        EXPECT_EQ(stat(dir.file(name).c_str(), &status), 0) << name;
        return status.st_mode & 07777;
    };
    EXPECT_EQ(mode_of("a"), 0700u);
    EXPECT_EQ(mode_of("a/b"), 0700u);
    EXPECT_EQ(mode_of("a/b/c"), 0750u);
}

#endif

}  // namespace
