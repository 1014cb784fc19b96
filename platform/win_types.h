// The Windows types, records and result codes that the account commands are
// written against. On Windows they come from the system headers; elsewhere
// this header defines the same names with the same values, so that the
// commands compile unchanged over our own stand-in layer.
#pragma once

#ifdef _WIN32

#include <windows.h>
#include <lm.h>

// A wide text literal.
#define WTEXT(text) L##text

#else

#include <cstdint>

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using BYTE = unsigned char;
using WCHAR = char16_t;  // UTF-16, as on Windows
using LPBYTE = BYTE *;
using LPDWORD = DWORD *;
using PDWORD = DWORD *;
using LPWSTR = WCHAR *;
using LPCWSTR = const WCHAR *;
using LPSTR = char *;
using LPCSTR = const char *;
using LPBOOL = BOOL *;
using HANDLE = void *;
using PHANDLE = HANDLE *;
using NET_API_STATUS = DWORD;
using LSTATUS = LONG;

// A wide text literal.
#define WTEXT(text) u##text

struct HKEY__;
using HKEY = HKEY__ *;
using PHKEY = HKEY *;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Win32 and network result codes, by their published names and values.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD NERR_Success = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_BAD_NETPATH = 53;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_INVALID_LEVEL = 124;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_INVALID_FLAGS = 1004;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_NO_LOGON_SERVERS = 1311;
constexpr DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;
constexpr DWORD ERROR_LOGON_FAILURE = 1326;
constexpr DWORD ERROR_ACCOUNT_DISABLED = 1331;
constexpr DWORD ERROR_NO_SUCH_DOMAIN = 1355;
constexpr DWORD ERROR_MEMBER_NOT_IN_ALIAS = 1377;
constexpr DWORD ERROR_MEMBER_IN_ALIAS = 1378;
constexpr DWORD ERROR_NO_SUCH_MEMBER = 1387;
constexpr DWORD ERROR_INVALID_MEMBER = 1388;
constexpr DWORD ERROR_ACCOUNT_LOCKED_OUT = 1909;
constexpr DWORD NERR_InternalError = 2140;
constexpr DWORD NERR_BadPassword = 2203;
constexpr DWORD NERR_GroupNotFound = 2220;
constexpr DWORD NERR_UserNotFound = 2221;
constexpr DWORD NERR_GroupExists = 2223;
constexpr DWORD NERR_UserExists = 2224;
constexpr DWORD NERR_NotPrimary = 2226;
constexpr DWORD NERR_SpeGroupOp = 2234;
constexpr DWORD NERR_PasswordTooShort = 2245;
constexpr DWORD NERR_InvalidComputer = 2351;
constexpr DWORD NERR_LastAdmin = 2452;

constexpr UINT CP_ACP = 0;

constexpr DWORD LOGON32_LOGON_INTERACTIVE = 2;
constexpr DWORD LOGON32_PROVIDER_DEFAULT = 0;

constexpr DWORD USER_PRIV_GUEST = 0;
constexpr DWORD USER_PRIV_USER = 1;
constexpr DWORD USER_PRIV_ADMIN = 2;

constexpr DWORD UF_SCRIPT = 0x0001;
constexpr DWORD UF_ACCOUNTDISABLE = 0x0002;
constexpr DWORD UF_LOCKOUT = 0x0010;
constexpr DWORD UF_NORMAL_ACCOUNT = 0x0200;
constexpr DWORD UF_DONT_EXPIRE_PASSWD = 0x10000;

constexpr DWORD FILTER_NORMAL_ACCOUNT = 2;
constexpr DWORD MAX_PREFERRED_LENGTH = 0xFFFFFFFF;
constexpr DWORD TIMEQ_FOREVER = 0xFFFFFFFF;

struct USER_INFO_1 {
    LPWSTR usri1_name;
    LPWSTR usri1_password;
    DWORD usri1_password_age;
    DWORD usri1_priv;
    LPWSTR usri1_home_dir;
    LPWSTR usri1_comment;
    DWORD usri1_flags;
    LPWSTR usri1_script_path;
};

struct LOCALGROUP_MEMBERS_INFO_3 {
    LPWSTR lgrmi3_domainandname;
};

struct USER_MODALS_INFO_0 {
    DWORD usrmod0_min_passwd_len;
    DWORD usrmod0_max_passwd_age;
    DWORD usrmod0_min_passwd_age;
    DWORD usrmod0_force_logoff;
    DWORD usrmod0_password_hist_len;
};

#endif
