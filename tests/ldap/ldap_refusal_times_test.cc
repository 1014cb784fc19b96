// Which refusals the directory store times, which wait a time out, and
// where the times are kept.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "ldapstore/ldap_refusal_times.h"
#include "ldapstore/ldap_store.h"
#include "tests/ldap/slapd_fixture.h"

namespace {

using std::chrono::microseconds;

const char PASSWORD[] = "Refusal-Pass-7";
const AccountBackend &store = LDAP_STORE;
constexpr long NEEDED = static_cast<long>(REFUSAL_TIMES_NEEDED);

LogonVerdict check(const char *name, const char *password)
{
    StoreAccount account;
    DWORD error = 0;
    return store.verify_logon(name, password, account, error);
}

DWORD insert(const char *name, DWORD flags)
{
    StoreAccount account;
    account.name = name;
    account.flags |= flags;
    StorePassword text{PASSWORD, nullptr};
    return store.insert_account(account, text, nullptr);
}

// Lockout on, at a threshold no case reaches; lou locked by the administrator.
std::string lockout_ldif(const std::string &people)
{
    return std::string("dn: ") + SLAPD_POLICY_DN +
           "\nchangetype: modify\nreplace: pwdLockout\npwdLockout: TRUE\n-\n"
           "replace: pwdMaxFailure\npwdMaxFailure: 100\n\ndn: uid=lou," + people +
           "\nchangetype: modify\nreplace: pwdAccountLockedTime\n"
           "pwdAccountLockedTime: 000001010000Z\n\n";
}

}  // namespace

TEST(LdapRefusalTimes, OnlyWrongPasswordsAreTimedAndEveryOtherRefusalWaitsOneOut)
{
    auto server = start_slapd();
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(add_store_tree(*server, "ou=site"));
    TempDir dir;
    StoreSettings settings = slapd_store_settings(*server, server->uri, "ou=site");
    settings.account_db = dir.file("lodgate.db");
    StoreSettingFault fault;
    ASSERT_EQ(store.open(settings, fault), NERR_Success);
    ASSERT_EQ(insert("ann", 0), NERR_Success);
    ASSERT_EQ(insert("dis", UF_ACCOUNTDISABLE), NERR_Success);
    ASSERT_EQ(insert("lou", 0), NERR_Success);
    ASSERT_EQ(ldap_root_change(*server, "ldapmodify", lockout_ldif(settings.ldap.user_base)), 0);

    RefusalCounters before = refusal_counters;
    EXPECT_EQ(check("nobody", PASSWORD), LogonVerdict::UNKNOWN);
    EXPECT_EQ(check("lou", PASSWORD), LogonVerdict::LOCKED);
    EXPECT_EQ(check("dis", PASSWORD), LogonVerdict::DISABLED);
    EXPECT_EQ(refusal_counters.noted, before.noted);
    EXPECT_EQ(refusal_counters.picked, before.picked);  // nothing known to wait out yet
    for (long i = 0; i < NEEDED; ++i)
        EXPECT_EQ(check("ann", "wrong"), LogonVerdict::WRONG);
    EXPECT_EQ(refusal_counters.noted, before.noted + NEEDED);
    EXPECT_EQ(refusal_counters.picked, before.picked);

    // Opened again, as by a module started for one check: the file tells.
    store.close();
    ASSERT_EQ(store.open(settings, fault), NERR_Success);
    EXPECT_EQ(check("nobody", PASSWORD), LogonVerdict::UNKNOWN);
    EXPECT_EQ(check("lou", PASSWORD), LogonVerdict::LOCKED);
    EXPECT_EQ(check("dis", PASSWORD), LogonVerdict::DISABLED);
    EXPECT_EQ(check("ann", ""), LogonVerdict::WRONG);
    EXPECT_EQ(refusal_counters.picked, before.picked + 4);
    EXPECT_EQ(refusal_counters.noted, before.noted + NEEDED);
    store.close();
}

TEST(LdapRefusalTimes, KeptOnlyInAFileNoOneElseCanWriteAndBelowTheLimit)
{
    const microseconds limit(5000000);
    TempDir dir;
    std::string path = dir.file(REFUSAL_TIMES_FILE_NAME);
    EXPECT_EQ(refusal_times_file(dir.file("lodgate.db")), path);
    EXPECT_EQ(refusal_times_file(""), "");
    refusal_times_use_file(path);
    note_refusal_time(limit, limit);
    for (long i = 0; i < NEEDED; ++i)
        note_refusal_time(microseconds(1000 + i), limit);
    refusal_times_use_file(path);
    microseconds time{};
    ASSERT_TRUE(pick_refusal_time(limit, time));
    EXPECT_GE(time.count(), 1000);
    EXPECT_LT(time.count(), 1000 + NEEDED);

    // Whoever could write the times could hold refusals back.
    ASSERT_EQ(chmod(path.c_str(), 0622), 0);
    refusal_times_use_file(path);
    EXPECT_FALSE(pick_refusal_time(limit, time));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    for (const char *other : {"symbolic", "hard"}) {
        std::string link = dir.file(other);
        ASSERT_EQ(other[0] == 's' ? symlink(path.c_str(), link.c_str())
                                  : ::link(path.c_str(), link.c_str()),
                  0);
        refusal_times_use_file(link);
        EXPECT_FALSE(pick_refusal_time(limit, time)) << other;
    }
    refusal_times_use_file("");
}
