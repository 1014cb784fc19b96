#include "bench/timing_sites.h"

#include <cstdint>

#include "accountdb/account_db.h"
#include "accountdb/user_records.h"
#include "ldapstore/ldap_store.h"
#include "platform/account_service.h"
#include "stores/account_stores.h"
#include "tests/ldap/slapd_fixture.h"

namespace {

constexpr const char RIGHT_PASSWORD[] = "Right-Password-7";
constexpr const char WRONG_PASSWORD[] = "Wrong-Password-7";
// Far above any run's attempts, so that every attempt is counted and the
// account refused only for a wrong password.
constexpr std::int64_t UNREACHED_THRESHOLD = 1000000000;

std::u16string widened(const char *text)
{
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

bool add_user(const char *name, DWORD extra_flags)
{
    std::u16string wide_name = widened(name);
    std::u16string password = widened(RIGHT_PASSWORD);
    USER_INFO_1 info{};
    info.usri1_name = wide_name.data();
    info.usri1_password = password.data();
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_flags = UF_SCRIPT | UF_NORMAL_ACCOUNT | extra_flags;
    return NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr) == NERR_Success;
}

// Each refused as its label says; locked and disabled accounts are given
// their right password, which must tell no more than a wrong one.
bool add_common_users()
{
    return add_user("present", 0) && add_user("another", 0) &&
           add_user("disabled", UF_ACCOUNTDISABLE) && add_user("locked", 0);
}

// The same refusal as the first, of another account: how far apart two
// kinds that take the same time come out in this run.
constexpr RefusalKind CONTROL = {"wrong password, another account", "another", WRONG_PASSWORD};

bool choose(const TimingSite &site)
{
    StoreSettingFault fault;
    return choose_account_store(site.store, site.settings, fault) == NERR_Success;
}

bool sql(const char *statement)
{
    return sqlite3_exec(account_db_connection(), statement, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The lock as lockout leaves it, until 2100; a stored value marked "!"
// before its hash, as shadow files lock; an md5crypt hash.
constexpr const char *SQLITE_SET_UP[] = {
    "UPDATE user_accounts SET failed_logons = 5, locked_until = 4102444800"
    " WHERE name = 'locked'",
    "UPDATE user_accounts SET password_hash = '!' || password_hash WHERE name = 'marked'",
    "UPDATE user_accounts SET password_hash = '$1$abcdefgh$geypP/1T.AOziy0GdX2uG1'"
    " WHERE name = 'weak'",
};

bool set_sqlite_lockout(TimingSite &site, bool on)
{
    return choose(site) &&
           db_write_policy(POLICY_LOCKOUT_THRESHOLD, on ? UNREACHED_THRESHOLD : 0) == NERR_Success;
}

const Slapd &slapd_of(const TimingSite &site)
{
    return *static_cast<const Slapd *>(site.server.get());
}

// ppolicy counts every failed bind and locks nobody in a run; off, it
// counts none. An account it locked stays locked either way.
bool set_directory_lockout(TimingSite &site, bool on)
{
    std::string ldif = std::string("dn: ") + SLAPD_POLICY_DN +
                       "\nchangetype: modify\nreplace: pwdMaxFailure\npwdMaxFailure: " +
                       (on ? "100000" : "0") + "\n-\nreplace: pwdLockout\npwdLockout: " +
                       (on ? "TRUE" : "FALSE") +
                       "\n-\nreplace: pwdFailureCountInterval\npwdFailureCountInterval: 60\n\n";
    return ldap_root_change(slapd_of(site), "ldapmodify", ldif) == 0;
}

}  // namespace

bool make_sqlite_site(const std::string &work, TimingSite &site, std::string &why)
{
    site.store = "sqlite";
    site.settings.account_db = work + "/accounts.db";
    site.work = work;
    site.set_lockout = set_sqlite_lockout;
    site.kinds = {
        {"wrong password", "present", WRONG_PASSWORD},
        CONTROL,
        {"unknown name", "nobody", WRONG_PASSWORD},
        {"disabled, right password", "disabled", RIGHT_PASSWORD},
        {"locked, right password", "locked", RIGHT_PASSWORD},
        {"stored value '!', right password", "marked", RIGHT_PASSWORD},
        {"md5crypt hash, wrong password", "weak", WRONG_PASSWORD},
    };
    bool ready = choose(site) && add_common_users() && add_user("marked", 0) &&
                 add_user("weak", 0);
    for (const char *statement : SQLITE_SET_UP)
        ready = ready && sql(statement);
    if (!ready) {
        why = "cannot set up the account database in " + work;
        return false;
    }
    write_file(work + "/lodgate.ini", "account_db " + site.settings.account_db + "\n");
    return true;
}

bool make_directory_site(const std::string &work, TimingSite &site, std::string &why)
{
    std::shared_ptr<Slapd> server = start_slapd();
    if (server == nullptr || !add_store_tree(*server, "ou=timing")) {
        why = "slapd did not start (is the slapd package installed?)";
        return false;
    }
    site.server = server;
    site.store = "ldap";
    site.settings = slapd_store_settings(*server, server->uri, "ou=timing");
    // Where the modules started here keep what the store keeps on this host.
    site.settings.account_db = work + "/lodgate.db";
    site.work = work;
    site.set_lockout = set_directory_lockout;
    site.kinds = {
        {"wrong password", "present", WRONG_PASSWORD},
        CONTROL,
        {"unknown name", "nobody", WRONG_PASSWORD},
        {"disabled, right password", "disabled", RIGHT_PASSWORD},
        // ppolicy ignores its lock while the policy's lockout is off.
        {"locked, right password", "locked", RIGHT_PASSWORD, true},
    };
    link_account_store(&LDAP_STORE);
    // 000001010000Z: locked until an administrator unlocks it.
    std::string lock = "dn: uid=locked," + site.settings.ldap.user_base +
                       "\nchangetype: modify\nreplace: pwdAccountLockedTime\n"
                       "pwdAccountLockedTime: 000001010000Z\n\n";
    if (!choose(site) || !add_common_users() ||
        ldap_root_change(*server, "ldapmodify", lock) != 0) {
        why = "cannot set up the directory's accounts";
        return false;
    }
    write_file(work + "/lodgate.ini", module_configuration(site.settings.ldap));
    return true;
}

bool choose_site_store(const TimingSite &site)
{
    return choose(site);
}
