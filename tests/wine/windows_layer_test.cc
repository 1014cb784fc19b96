// The Windows layer over the system's own functions, as lodgate.exe meets
// them. Built for Windows only and run under Wine by tools/test-windows;
// where Wine answers otherwise than Windows, the test says so.
#include <gtest/gtest.h>

#include <cerrno>
#include <direct.h>
#include <string>

#include "accounts/account_text.h"
#include "protocol/replies.h"
#include "config/host.h"
#include "config/settings.h"
#include "platform/account_service.h"
#include "platform/process.h"
#include "platform/text_conversion.h"

namespace {

// The negative reply that one conversion wrote, or "" for none.
template <typename Convert>
std::string reply_of(Convert convert, int &result)
{
    negative_reply_given = false;
    testing::internal::CaptureStdout();
    result = convert();
    return testing::internal::GetCapturedStdout();
}

const char INSUFFICIENT_BUFFER_REPLY[] =
    "-ERR Unable to convert to unicode, insufficient buffer space.\n";

// A drive letter that names no drive, or 0 when all are taken.
char unused_drive_letter()
{
    DWORD drives = GetLogicalDrives();
    for (char letter = 'Q'; letter <= 'Y'; ++letter)
        if ((drives & (1u << (letter - 'A'))) == 0)
            return letter;
    return 0;
}

// A fresh directory under the user's temporary directory, removed with its
// one level of subdirectories when the record goes.
struct ScratchDirectory {
    std::string path;
    std::string child;

    ScratchDirectory()
    {
        char temp[MAX_PATH + 1];
        DWORD length = GetTempPathA(sizeof temp, temp);
        path = std::string(temp, length) + "lodgate-" + std::to_string(GetCurrentProcessId());
    }
    ~ScratchDirectory()
    {
        if (!child.empty())
            _rmdir(child.c_str());
        _rmdir(path.c_str());
    }
};

}  // namespace

TEST(AnsiConversion, WideCapacityHolds511Characters)
{
    WideText wide;
    int result = -1;
    std::string fits(511, 'a');
    EXPECT_EQ(reply_of([&] { return to_wide(fits.c_str(), wide); }, result), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(wide_length(wide.data()), 511u);

    std::string too_long(512, 'a');
    EXPECT_EQ(reply_of([&] { return to_wide(too_long.c_str(), wide); }, result),
              INSUFFICIENT_BUFFER_REPLY);
    EXPECT_EQ(result, 0);
}

TEST(AnsiConversion, NarrowCapacityHolds510Bytes)
{
    NarrowText narrow;
    int result = -1;
    std::wstring fits(510, L'b');
    EXPECT_EQ(reply_of([&] { return to_narrow(fits.c_str(), narrow); }, result), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::string(narrow.text()), std::string(510, 'b'));

    std::wstring too_long(511, L'b');
    EXPECT_EQ(reply_of([&] { return to_narrow(too_long.c_str(), narrow); }, result),
              INSUFFICIENT_BUFFER_REPLY);
    EXPECT_EQ(result, 0);
}

// Wine's ANSI code page here is 1252, as on a Western-European Windows.
TEST(AnsiConversion, WesternCodePageRoundTrip)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "ANSI code page " << GetACP() << ", not 1252";
    WideText wide;
    ASSERT_EQ(to_wide("Jos\xe9 \x80", wide), 1);
    EXPECT_EQ(std::wstring(wide.data()), L"Jos\u00e9 \u20ac");
    NarrowText narrow;
    ASSERT_EQ(to_narrow(wide.data(), narrow), 1);
    EXPECT_STREQ(narrow.text(), "Jos\xe9 \x80");
}

// With flags 0 Windows neither refuses a byte nor a character: the code
// page's holes map to control characters, and a character outside the code
// page becomes its default character. "No possible translation" therefore
// never reaches a Windows peer.
TEST(AnsiConversion, NothingIsRefusedOnlyReplaced)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "ANSI code page " << GetACP() << ", not 1252";
    WideText wide;
    int result = -1;
    EXPECT_EQ(reply_of([&] { return to_wide("\x81\x8d", wide); }, result), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::wstring(wide.data()), L"\u0081\u008d");

    NarrowText narrow;
    EXPECT_EQ(reply_of([&] { return to_narrow(L"\u4e2d\u6587", narrow); }, result), "");
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(narrow.text(), "??");
}

// The registry's ComputerName is the name the rest of the system knows the
// computer by.
TEST(HostName, RegistryGivesTheComputerName)
{
    settings = Settings{};
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    HostName host = resolve_host();
    ASSERT_TRUE(host);
    EXPECT_EQ(std::wstring(host.get()), L"\\\\" + std::wstring(name, size));
}

// The home directory walk goes on past EEXIST and stops at ENOENT only.
TEST(MakeDirectory, ErrorNumbersAreThoseTheWalkReadsAsWindows)
{
    ScratchDirectory scratch;
    errno = 0;
    ASSERT_EQ(make_directory(scratch.path.c_str()), 0);
    EXPECT_EQ(make_directory(scratch.path.c_str()), -1);
    EXPECT_EQ(errno, EEXIST);

    EXPECT_EQ(make_directory((scratch.path + "\\missing\\child").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);

    scratch.child = scratch.path + "\\child";
    EXPECT_EQ(make_directory(scratch.child.c_str()), 0);

    char letter = unused_drive_letter();
    ASSERT_NE(letter, 0);
    std::string on_missing_drive = std::string(1, letter) + ":\\lodgate";
    EXPECT_EQ(make_directory(on_missing_drive.c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
}

// Only ERROR_INVALID_PARAMETER carries a parameter number; any other answer
// leaves *parm_err as the caller set it. Wine refuses a password of more
// than PWLEN (256) characters with NERR_PasswordTooShort; Windows applies
// its password policy instead.
TEST(AccountService, OtherFailuresLeaveTheParameterNumber)
{
    std::wstring name = L"lodgate_long_password";
    name.resize(20);
    std::wstring password(300, L'p');
    USER_INFO_1 record{};
    record.usri1_name = name.data();
    record.usri1_password = password.data();
    record.usri1_priv = USER_PRIV_USER;
    record.usri1_flags = UF_SCRIPT | UF_NORMAL_ACCOUNT;
    DWORD parameter = 6;
    EXPECT_EQ(NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&record), &parameter),
              static_cast<NET_API_STATUS>(NERR_PasswordTooShort));
    EXPECT_EQ(parameter, 6u);
}
