// The registry's one value on POSIX: the computer name.
#include <algorithm>
#include <climits>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/registry.h"

namespace {

constexpr const char16_t *SUBKEY = u"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";

std::u16string host_name_wide()
{
    char host[HOST_NAME_MAX + 1] = {};
    gethostname(host, sizeof host - 1);
    return std::u16string(host, host + std::char_traits<char>::length(host));
}

// An open ComputerName key, closed when the record goes.
struct OpenKey {
    HKEY key = nullptr;
    LSTATUS opened;

    explicit OpenKey(const char16_t *subkey) : opened(RegCreateKeyW(HKEY_LOCAL_MACHINE, subkey, &key)) {}
    OpenKey(const OpenKey &) = delete;
    OpenKey &operator=(const OpenKey &) = delete;
    ~OpenKey()
    {
        if (opened == ERROR_SUCCESS)
            RegCloseKey(key);
    }
};

TEST(Registry, ComputerNameIsTheHostNameAsTerminatedWideText)
{
    OpenKey open(SUBKEY);
    ASSERT_EQ(open.opened, ERROR_SUCCESS);
    ASSERT_NE(open.key, nullptr);
    WCHAR data[300];
    std::fill(std::begin(data), std::end(data), u'#');
    DWORD size = sizeof data;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExW(open.key, u"ComputerName", nullptr, &type,
                               reinterpret_cast<LPBYTE>(data), &size),
              ERROR_SUCCESS);
    std::u16string host = host_name_wide();
    EXPECT_EQ(type, 1U);  // REG_SZ
    EXPECT_EQ(size, (host.size() + 1) * sizeof(WCHAR));
    EXPECT_EQ(std::u16string(data), host);
    EXPECT_EQ(data[host.size() + 1], u'#');  // nothing written past the value

    // Registry names compare without regard to case.
    OpenKey other(u"system\\currentcontrolset\\control\\computername\\COMPUTERNAME");
    ASSERT_EQ(other.opened, ERROR_SUCCESS);
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExW(other.key, u"computername", nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(data), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(data), host);
}

TEST(Registry, SmallBufferGetsMoreDataAndTheNeededSize)
{
    OpenKey open(SUBKEY);
    ASSERT_EQ(open.opened, ERROR_SUCCESS);
    DWORD needed = static_cast<DWORD>((host_name_wide().size() + 1) * sizeof(WCHAR));

    WCHAR data[300] = {};
    DWORD size = needed - 1;
    EXPECT_EQ(RegQueryValueExW(open.key, u"ComputerName", nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(data), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(data[0], 0);

    size = 0;
    EXPECT_EQ(RegQueryValueExW(open.key, u"ComputerName", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, needed);
    size = needed;
    EXPECT_EQ(RegQueryValueExW(open.key, u"ComputerName", nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(data), &size),
              ERROR_SUCCESS);
}

TEST(Registry, EveryOtherKeyAndValueIsNotFound)
{
    for (const char16_t *subkey :
         {u"SYSTEM\\CurrentControlSet\\Control\\ComputerName",
          u"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerNameX",
          u"SOFTWARE\\Lodgate"}) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE, subkey, &key), ERROR_FILE_NOT_FOUND);
    }
    OpenKey open(SUBKEY);
    ASSERT_EQ(open.opened, ERROR_SUCCESS);
    WCHAR data[300] = {};
    DWORD size = sizeof data;
    for (const char16_t *value : {u"ActiveComputerName", u"", u"ComputerNam"})
        EXPECT_EQ(RegQueryValueExW(open.key, value, nullptr, nullptr,
                                   reinterpret_cast<LPBYTE>(data), &size),
                  ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, u"ComputerName", nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(data), &size),
              ERROR_FILE_NOT_FOUND);
}

TEST(Registry, CloseReleasesTheHandle)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE, SUBKEY, &key), ERROR_SUCCESS);
    HKEY second = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE, SUBKEY, &second), ERROR_SUCCESS);
    EXPECT_NE(key, second);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"ComputerName", nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(second, u"ComputerName", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

}  // namespace
