// LogonUserW and CloseHandle, and the stored hashes they verify against.
#include <string>

#include <crypt.h>

#include "hashing/password_hash.h"
#include "tests/service_test_support.h"

namespace {

using Logon = AccountDbTest;

std::string crypt_with(const char *password, const char *setting)
{
    crypt_data area{};
    const char *out = crypt_rn(password, setting, &area, sizeof area);
    return out != nullptr ? out : "";
}

// The crypt work and dummy verifications one call did.
struct CryptWork {
    long crypt_calls;
    long dummy_verifies;
};

template <typename Call>
CryptWork work_of(Call call)
{
    PasswordCounters before = password_counters;
    call();
    return {password_counters.crypt_calls - before.crypt_calls,
            password_counters.dummy_verifies - before.dummy_verifies};
}

TEST_F(Logon, RightPasswordGivesATokenThatClosesOnce)
{
    ASSERT_EQ(add_user(u"Ann", u"correct horse"), NERR_Success);
    HANDLE token = nullptr;
    ASSERT_EQ(LogonUserW(u"ann", nullptr, u"correct horse", 2, 0, &token), TRUE);
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(CloseHandle(token), TRUE);
    SetLastError(0);
    EXPECT_EQ(CloseHandle(token), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(CloseHandle(nullptr), FALSE);
}

TEST_F(Logon, WrongPasswordAndMissingNameFailAlikeWithTheSameWork)
{
    ASSERT_EQ(add_user(u"bob", u"Right-1"), NERR_Success);
    EXPECT_EQ(logon(u"bob", u"right-1"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"bob", u""), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"nobody", u"Right-1"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"", u"Right-1"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(nullptr, u"Right-1"), ERROR_LOGON_FAILURE);

    CryptWork wrong = work_of([] { logon(u"bob", u"wrong"); });
    CryptWork missing = work_of([] { logon(u"nobody", u"wrong"); });
    CryptWork invalid_name = work_of([] { logon(u"a\tb", u"wrong"); });
    EXPECT_EQ(wrong.crypt_calls, 1);
    EXPECT_EQ(wrong.dummy_verifies, 0);
    EXPECT_EQ(missing.crypt_calls, 1);
    EXPECT_EQ(missing.dummy_verifies, 1);
    EXPECT_EQ(invalid_name.dummy_verifies, 1);
}

TEST_F(Logon, DisabledAccountRefusesTheRightPasswordAsAWrongOne)
{
    USER_INFO_1 info = user_info(u"carol", u"pw-carol");
    info.usri1_flags |= UF_ACCOUNTDISABLE;
    ASSERT_EQ(NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr), NERR_Success);
    HANDLE token = &info;
    EXPECT_EQ(LogonUserW(u"carol", nullptr, u"pw-carol", 2, 0, &token), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_LOGON_FAILURE);
    EXPECT_EQ(token, nullptr);
    EXPECT_EQ(logon(u"carol", u"pw-wrong"), ERROR_LOGON_FAILURE);
}

TEST_F(Logon, StoredValuesThatAreNoHashNeverVerifyAndCostTheDummy)
{
    std::string real;
    ASSERT_EQ(hash_password("secret", real), 0);
    std::string setting = real.substr(0, real.rfind('$'));
    const std::string stored_values[] = {
        "", "*", "!", "!" + real, "*" + real, "$unknown$abc$def", setting,
        "ab",  // a bare DES setting
    };
    int n = 0;
    for (const std::string &stored : stored_values) {
        std::string name = "locked" + std::to_string(n++);
        ASSERT_EQ(db_insert_user(stored_user(name, stored)), NERR_Success);
        std::u16string wide_name = widen(name);
        for (const char16_t *password : {u"secret", u"", u"!", u"*"}) {
            CryptWork work =
                work_of([&] { EXPECT_EQ(logon(wide_name.c_str(), password), ERROR_LOGON_FAILURE); });
            EXPECT_EQ(work.dummy_verifies, 1) << "stored [" << stored << "]";
        }
    }
}

TEST_F(Logon, HashesFromOtherMethodsVerify)
{
    const char *settings[] = {"$6$saltsalt$", "$5$rounds=1000$salt$", "$2b$05$abcdefghijklmnopqrstuu",
                              "$1$abc$"};
    int n = 0;
    for (const char *setting : settings) {
        std::string hash = crypt_with("imported-pw", setting);
        ASSERT_FALSE(hash.empty()) << setting;
        std::string name = "imported" + std::to_string(n++);
        ASSERT_EQ(db_insert_user(stored_user(name, hash)), NERR_Success);
        std::u16string wide_name = widen(name);
        EXPECT_EQ(logon(wide_name.c_str(), u"imported-pw"), ERROR_SUCCESS) << setting;
        CryptWork work = work_of(
            [&] { EXPECT_EQ(logon(wide_name.c_str(), u"imported-px"), ERROR_LOGON_FAILURE); });
        EXPECT_EQ(work.dummy_verifies, 0) << setting;
    }
}

TEST_F(Logon, NonAsciiPasswordsRoundTrip)
{
    ASSERT_EQ(add_user(u"dora", u"pässwörd € 𝄞"), NERR_Success);
    EXPECT_EQ(logon(u"DORA", u"pässwörd € 𝄞"), ERROR_SUCCESS);
    EXPECT_EQ(logon(u"dora", u"passwörd € 𝄞"), ERROR_LOGON_FAILURE);
}

TEST_F(Logon, OverlongPasswordFailsBeforeAnyHashing)
{
    std::string hash = crypt_with(std::string(511, 'p').c_str(), "$6$saltsalt$");
    ASSERT_EQ(db_insert_user(stored_user("longpw", hash)), NERR_Success);
    std::u16string longest(511, u'p');
    std::u16string too_long(512, u'p');
    std::u16string too_long_bytes(171, u'€');  // 513 bytes
    EXPECT_EQ(logon(u"longpw", longest.c_str()), ERROR_SUCCESS);
    CryptWork work = work_of([&] {
        EXPECT_EQ(logon(u"longpw", too_long.c_str()), ERROR_LOGON_FAILURE);
        EXPECT_EQ(logon(u"longpw", too_long_bytes.c_str()), ERROR_LOGON_FAILURE);
        EXPECT_EQ(logon(u"longpw", u"\xD800"), ERROR_LOGON_FAILURE);
    });
    EXPECT_EQ(work.crypt_calls, 0);
}

TEST_F(Logon, OnlyInteractiveLogonWithTheDefaultProvider)
{
    ASSERT_EQ(add_user(u"eve", u"pw-eve"), NERR_Success);
    HANDLE token = nullptr;
    EXPECT_EQ(LogonUserW(u"eve", nullptr, u"pw-eve", 3, 0, &token), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(LogonUserW(u"eve", nullptr, u"pw-eve", 2, 1, &token), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(LogonUserW(u"eve", nullptr, u"pw-eve", 2, 0, nullptr), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(token, nullptr);
}

TEST_F(Logon, DomainMustBeThisComputer)
{
    ASSERT_EQ(add_user(u"fred", u"pw-fred"), NERR_Success);
    for (const char16_t *domain : {u"", u".", u"localhost", u"\\\\127.0.0.1"}) {
        HANDLE token = nullptr;
        EXPECT_EQ(LogonUserW(u"fred", domain, u"pw-fred", 2, 0, &token), TRUE);
        CloseHandle(token);
    }
    for (const char16_t *domain : {u"ELSEWHERE", u"\\\\elsewhere", u"\\\\", u"a b"}) {
        HANDLE token = nullptr;
        EXPECT_EQ(LogonUserW(u"fred", domain, u"pw-fred", 2, 0, &token), FALSE);
        EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DOMAIN);
    }
}

TEST_F(Logon, EmptyPasswordsNeverCheckAndCostTheDummy)
{
    std::string empty_hash;
    ASSERT_EQ(hash_password("", empty_hash), 0);
    ASSERT_EQ(db_insert_user(stored_user("blank", empty_hash)), NERR_Success);
    CryptWork work = work_of([] { EXPECT_EQ(logon(u"blank", u""), ERROR_LOGON_FAILURE); });
    EXPECT_EQ(work.dummy_verifies, 1);
    EXPECT_EQ(work.crypt_calls, 1);

    USER_INFO_1 info = user_info(u"nopass", nullptr);
    ASSERT_EQ(NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr), NERR_Success);
    EXPECT_EQ(logon(u"nopass", u""), ERROR_LOGON_FAILURE);
    info.usri1_password = wide(u"");
    EXPECT_EQ(NetUserSetInfo(nullptr, u"nopass", 1, reinterpret_cast<LPBYTE>(&info), nullptr),
              NERR_PasswordTooShort);
}

// A read of the name a live token verified answers from that account, as
// a check's read does; another spelling, or the same name once the token
// is closed, reads the store.
TEST_F(Logon, OnlyALiveTokensOwnNameIsAnsweredFromTheVerifiedAccount)
{
    ASSERT_EQ(add_user(u"Kept", u"right-pw"), NERR_Success);
    HANDLE token = nullptr;
    ASSERT_TRUE(LogonUserW(u"kept", nullptr, u"right-pw", LOGON32_LOGON_INTERACTIVE,
                           LOGON32_PROVIDER_DEFAULT, &token));
    ASSERT_EQ(sqlite3_exec(account_db_connection(), "UPDATE user_accounts SET comment = 'later'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    auto comment_of = [](const char16_t *name) {
        NetBuffer buffer;
        EXPECT_EQ(NetUserGetInfo(nullptr, name, 1, &buffer.data), NERR_Success);
        return buffer.data != nullptr ? narrow(buffer.users()->usri1_comment) : std::nullopt;
    };
    EXPECT_EQ(comment_of(u"kept"), std::nullopt);
    EXPECT_EQ(comment_of(u"KEPT"), "later");
    ASSERT_TRUE(CloseHandle(token));
    EXPECT_EQ(comment_of(u"kept"), "later");
}

TEST_F(Logon, CostlyHashesNeverRunAndWeakOnesCostTheDefaultToo)
{
    std::string costly = "$2b$17$abcdefghijklmnopqrstuuWG29KuyeAicPCJODk1zjyGvyQUU2awu";
    EXPECT_EQ(db_insert_user(stored_user("slow", costly)), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(db_insert_user(stored_user("slow")), NERR_Success);
    std::string sql = "UPDATE user_accounts SET password_hash = '" + costly + "'";
    ASSERT_EQ(sqlite3_exec(account_db_connection(), sql.c_str(), nullptr, nullptr, nullptr),
              SQLITE_OK);
    CryptWork slow = work_of([] { EXPECT_EQ(logon(u"slow", u"any"), ERROR_LOGON_FAILURE); });
    EXPECT_EQ(slow.crypt_calls, 1);
    EXPECT_EQ(slow.dummy_verifies, 1);

    ASSERT_EQ(db_insert_user(stored_user("md5", crypt_with("pw", "$1$abc$"))), NERR_Success);
    CryptWork weak = work_of([] { EXPECT_EQ(logon(u"md5", u"wrong"), ERROR_LOGON_FAILURE); });
    EXPECT_EQ(weak.dummy_verifies, 1);
}

}  // namespace
