// Shared by the account database tests: a fresh database file per test and
// small helpers around the service's records and buffers.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "accountdb/account_db.h"
#include "accountdb/user_records.h"
#include "platform/utf_text.h"
#include "log/trace_log.h"
#include "platform/account_service.h"
#include "stores/account_stores.h"
#include "platform/last_error.h"
#include "tests/test_hooks.h"
#include "tests/test_support.h"

// The service takes non-const texts but never writes through them.
inline LPWSTR wide(const char16_t *text)
{
    return const_cast<LPWSTR>(text);
}

inline std::optional<std::string> narrow(LPCWSTR text)
{
    std::string out;
    if (text == nullptr || !wide_to_utf8(text, out))
        return std::nullopt;
    return out;
}

inline std::u16string widen(const std::string &text)
{
    std::u16string out(wide_units_of(text), u'\0');
    utf8_to_wide(text, out.data());
    return out;
}

// A buffer of the service, released with NetApiBufferFree.
struct NetBuffer {
    LPBYTE data = nullptr;

    NetBuffer() = default;
    NetBuffer(const NetBuffer &) = delete;
    NetBuffer &operator=(const NetBuffer &) = delete;
    ~NetBuffer() { NetApiBufferFree(data); }
    const USER_INFO_1 *users() const { return reinterpret_cast<const USER_INFO_1 *>(data); }
};

inline USER_INFO_1 user_info(const char16_t *name, const char16_t *password = u"Secret-1")
{
    USER_INFO_1 info{};
    info.usri1_name = wide(name);
    info.usri1_password = wide(password);
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_flags = UF_SCRIPT | UF_NORMAL_ACCOUNT;
    return info;
}

inline DWORD add_user(const char16_t *name, const char16_t *password = u"Secret-1")
{
    USER_INFO_1 info = user_info(name, password);
    return NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr);
}

inline DWORD logon(const char16_t *name, const char16_t *password)
{
    HANDLE token = nullptr;
    if (LogonUserW(name, nullptr, password, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT,
                   &token) == FALSE)
        return GetLastError();
    return CloseHandle(token) != FALSE ? ERROR_SUCCESS : GetLastError();
}

// The service serves from the sqlite store, on the file a test opened, as
// a program's does once the program has chosen that store.
inline DWORD serve_from_sqlite()
{
    StoreSettingFault fault;
    return choose_account_store("sqlite", StoreSettings{}, fault);
}

// A record whose stored value is taken as given, without hashing: for many
// accounts, and for stored values that no NetUserAdd would make.
inline UserRecord stored_user(const std::string &name, const std::string &hash = "*")
{
    UserRecord user;
    user.name = name;
    user.password_hash = hash;
    user.password_set = account_clock();
    return user;
}

inline DWORD join(const char16_t *group, const std::vector<const char16_t *> &names)
{
    std::vector<LOCALGROUP_MEMBERS_INFO_3> members;
    for (const char16_t *name : names)
        members.push_back({wide(name)});
    return NetLocalGroupAddMembers(nullptr, group, 3, reinterpret_cast<LPBYTE>(members.data()),
                                   static_cast<DWORD>(members.size()));
}

// Each test has its own database file; logging is off unless a test opens
// a trace file, and the connection is closed afterwards since it lives for
// the whole process.
struct AccountDbTest : ::testing::Test {
    TempDir dir;
    std::string db_path;
    int saved_log_level = LOG_OFF;

    void SetUp() override
    {
        saved_log_level = log_level;
        log_level = LOG_OFF;
        db_path = dir.file("accounts.db");
        ASSERT_EQ(account_db_open(db_path.c_str()), NERR_Success);
        ASSERT_EQ(serve_from_sqlite(), NERR_Success);
    }

    void TearDown() override
    {
        account_db_close();
        close_log_file();
        log_level = saved_log_level;
    }

    // Starts a trace file in the test's directory at ERROR level.
    std::string start_trace()
    {
        open_log_file(dir.path.c_str(), "trace");
        log_level = LOG_ERROR;
        return dir.file("trace.log");
    }
};
