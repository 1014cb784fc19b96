// The seam between the POSIX account service and the store that keeps the
// accounts. The service checks arguments and server names, converts UTF-16,
// packs USER_INFO_1 records and keeps tokens and paging cursors; a store
// fills in an AccountBackend over UTF-8 texts and answers the service's
// result codes (NERR_*, ERROR_*). One store serves a process, chosen by
// the account_service setting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

// What a directory store needs to reach its servers.
struct LdapSettings {
    std::string uri;                   // space-separated, tried in order
    std::string user_base;
    std::string group_base;
    std::string bind_dn;
    std::string bind_password_file;    // never the password itself
    std::string tls = "starttls";      // starttls, ldaps or none
    std::string ca_file;
    int timeout_seconds = 5;           // connect and each operation
    std::string schema = "rfc2307";    // rfc2307 or ad
    // The entry that holds the password and lockout policy (OpenLDAP's
    // ppolicy default entry, or AD's domain object); empty: no policy.
    std::string policy_dn;
};

// Handed to a store when it opens, so that no store reads the process-wide
// settings itself.
struct StoreSettings {
    std::string account_db;          // SQLite: the file (already resolved)
    LdapSettings ldap;
};

// A setting that keeps a store from opening, for the administrator: the
// programs answer "-DEAD <problem> <key> {<value>}", then ": <detail>"
// when there is one.
struct StoreSettingFault {
    const char *problem = nullptr;  // "Unknown", "Missing", "Invalid", "Unreadable", ...
    const char *key = nullptr;      // the configuration key
    std::string value;
    std::string detail;
};

// One account as a store keeps it.
struct StoreAccount {
    std::string name;  // with the case it was created with
    DWORD priv = USER_PRIV_USER;
    DWORD flags = UF_SCRIPT | UF_NORMAL_ACCOUNT;
    std::optional<std::string> home_dir;  // absent is not the empty text
    std::optional<std::string> comment;
    std::optional<std::string> script_path;
    std::int64_t password_set = 0;  // seconds since the epoch; 0 when unknown
    // Shown by the administration tool.
    bool locked = false;
    std::int64_t failed_logons = 0;
};

// A password to store: its text, which the store hashes as it hashes new
// passwords, or a ready crypt(3) hash kept as it is (imports). One of the two.
struct StorePassword {
    const char *text = nullptr;
    const char *hash = nullptr;
};

// One line of a store's account of its health, for the administrator.
struct StoreFact {
    std::string key;  // a single word
    std::string value;
};

// What a password check comes to. The store decides what a check means for
// it (a local hash, a bind); unknown names cost what wrong passwords cost.
enum class LogonVerdict {
    RIGHT,
    WRONG,
    UNKNOWN,
    DISABLED,
    LOCKED,
    STORE_ERROR,  // with the code in the error argument
};

// One batch of accounts in a stable order. cursor is the store's own text,
// opaque to the service; empty before the first batch.
struct StorePage {
    std::vector<StoreAccount> accounts;
    // Accounts from the cursor on, this batch included; a store that cannot
    // count ahead (a directory gives no estimate) counts those it has read.
    std::int64_t remaining = 0;
    bool more = false;
    std::string next;  // the cursor after this batch, while more
};

// The shape of every name a listing's caller wants: these texts in order
// with anything between them, the first at the start of the name and the
// last at its end ("" where the name may start or end with anything). One
// text is the whole name; none, any name. Texts compare as bytes, case and
// all. A store may list names outside the shape, never leave out one in it.
using NameShape = std::vector<std::string>;
// Asked for each candidate; false when it no longer fits the caller's
// buffer, which ends the batch with more set.
using StoreFits = bool (*)(const StoreAccount &account, void *context);

struct StoreGroup {
    std::string name;
    std::optional<std::string> comment;
    std::int64_t members = 0;
    bool builtin = false;  // Administrators, Users, Guests: never deleted
};

struct StoreImport {
    StoreAccount account;
    std::string hash;
};

enum class PolicyKey {
    MIN_PASSWORD_LENGTH,  // UTF-16 units
    LOCKOUT_THRESHOLD,    // 0: no lockout
    LOCKOUT_WINDOW,       // seconds
    LOCKOUT_DURATION,     // seconds
};

// Each operation answers NERR_Success or the service's code for the fault:
// NERR_UserNotFound, NERR_UserExists, NERR_GroupNotFound, NERR_GroupExists,
// ERROR_NO_SUCH_MEMBER, ERROR_MEMBER_IN_ALIAS, ERROR_INVALID_MEMBER,
// ERROR_INVALID_PARAMETER (with the member's index for writes),
// NERR_PasswordTooShort, ERROR_ACCESS_DENIED, NERR_NotPrimary,
// ERROR_BAD_NETPATH (servers unreachable), NERR_InternalError (after an
// ERROR trace line). Names compare case-insensitively.
struct AccountBackend {
    const char *name;  // the account_service value

    // NERR_Success, or a fault that names the setting to mend.
    DWORD (*open)(const StoreSettings &settings, StoreSettingFault &fault);
    void (*close)();

    DWORD (*find_account)(std::string_view name, StoreAccount &account);
    // A listing starts with an empty cursor and keeps the shape it started
    // with. A store may end a listing left unfinished once newer ones are
    // open; its cursor then answers ERROR_INVALID_PARAMETER.
    DWORD (*list_accounts)(const std::string &cursor, const NameShape &shape, StoreFits fits,
                           void *context, StorePage &page);
    DWORD (*insert_account)(const StoreAccount &account, const StorePassword &password,
                            DWORD *parm_err);
    // password is null when it stays.
    DWORD (*update_account)(std::string_view name, const StoreAccount &values,
                            const StorePassword *password, DWORD *parm_err);
    DWORD (*delete_account)(std::string_view name);
    // Every member or none.
    DWORD (*add_group_members)(std::string_view group, const std::vector<std::string> &members);

    // The calls between them made one change where the store allows it;
    // ending without keep undoes them.
    DWORD (*begin_change)();
    DWORD (*end_change)(bool keep);

    DWORD (*read_policy)(PolicyKey key, std::int64_t &value);
    DWORD (*write_policy)(PolicyKey key, std::int64_t value);

    // On RIGHT, account holds the account as stored.
    LogonVerdict (*verify_logon)(std::string_view name, const char *password,
                                 StoreAccount &account, DWORD &error);

    // Administration.
    DWORD (*list_groups)(std::vector<StoreGroup> &groups);
    DWORD (*add_group)(std::string_view name, const std::optional<std::string> &comment);
    DWORD (*delete_group)(std::string_view name);
    DWORD (*group_members)(std::string_view group, std::vector<std::string> &members);
    DWORD (*remove_group_member)(std::string_view group, std::string_view member);
    DWORD (*account_groups)(std::string_view name, std::vector<std::string> &groups);
    DWORD (*unlock_account)(std::string_view name);
    // All or none; NERR_UserExists names no account when one is taken.
    DWORD (*import_accounts)(const std::vector<StoreImport> &accounts);
    // The store's health (file, integrity, schema; servers). NERR_Success
    // when all is well; otherwise fault says what is wrong.
    DWORD (*check_store)(std::vector<StoreFact> &facts, std::string &fault);

    // What the last failed operation met, in words for the administrator
    // (a file that keeps this process out, a server that does not answer).
    std::string (*last_fault)();
};
