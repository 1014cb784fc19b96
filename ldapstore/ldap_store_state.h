// What the directory store's files share: the settings it was opened with,
// the open change's undo steps, and the reading of accounts and groups.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ldapstore/ldap_operations.h"
#include "ldapstore/ldap_schema.h"
#include "platform/account_backend.h"

struct LdapStoreState {
    LdapSettings settings;
    const LdapSchema *schema = nullptr;
    bool in_change = false;
    UndoLog change;  // of the open change, undone when it ends without keep
    // Writes that make the change's new accounts usable (their passwords),
    // made last when it ends with keep: a change cut short by a kill leaves
    // no account that checks a password without its groups.
    UndoLog completion;
};
extern LdapStoreState ldap_store;

const LdapSchema &schema();
std::string account_filter(std::string_view name);
std::string group_filter(std::string_view name);
std::vector<const char *> account_attributes(bool with_password);
bool is_builtin(std::string_view group);
// What a group lists for the account: its name, or its DN where members
// are DNs.
std::string member_value(const LdapEntry &account);
// The groups whose members get a privilege, the higher first; other
// accounts are USER_PRIV_USER.
struct PrivilegeGroup {
    const char *name;
    DWORD priv;
};
extern const PrivilegeGroup PRIVILEGE_GROUPS[2];
// The privilege of the first of PRIVILEGE_GROUPS among folded group names.
DWORD priv_of(const std::set<std::string> &groups);
// The account as its entry holds it; its privilege comes from its groups.
void read_account(const LdapEntry &entry, StoreAccount &account);
// The folded names (and, when asked, the entries) of the groups that list
// member.
DWORD groups_of(const std::string &member, std::set<std::string> &names,
                std::vector<LdapEntry> *entries = nullptr);
DWORD find_group_entry(std::string_view name, LdapEntry &entry);
// NERR_UserNotFound for no entry (and for a name no account can have).
DWORD find_account_entry(std::string_view name, LdapEntry &entry, bool with_password);
// The account with its privilege from its groups.
DWORD read_account_entry(const LdapEntry &entry, StoreAccount &account);
// Hands a finished write's undo steps to the open change, if any.
void keep_undo(UndoLog &undo);
// Makes the last writes of the open change: NERR_Success, or the fault of
// the first that failed, after the whole change is undone.
DWORD complete_change();

DWORD ldap_store_list_accounts(const std::string &cursor, const NameShape &shape, StoreFits fits,
                               void *context, StorePage &page);
// Ends every open listing (the store closes).
void ldap_end_listings();
DWORD ldap_store_insert_account(const StoreAccount &account, const StorePassword &password,
                                DWORD *parm_err);
DWORD ldap_store_update_account(std::string_view name, const StoreAccount &values,
                                const StorePassword *password, DWORD *parm_err);
DWORD ldap_store_delete_account(std::string_view name);
DWORD ldap_store_import_accounts(const std::vector<StoreImport> &accounts);
DWORD ldap_store_add_group_members(std::string_view group,
                                   const std::vector<std::string> &members);
DWORD ldap_store_list_groups(std::vector<StoreGroup> &groups);
DWORD ldap_store_add_group(std::string_view name, const std::optional<std::string> &comment);
DWORD ldap_store_delete_group(std::string_view name);
DWORD ldap_store_group_members(std::string_view group, std::vector<std::string> &members);
DWORD ldap_store_remove_group_member(std::string_view group, std::string_view member);
DWORD ldap_store_account_groups(std::string_view name, std::vector<std::string> &groups);
DWORD ldap_store_read_policy(PolicyKey key, std::int64_t &value);
DWORD ldap_store_write_policy(PolicyKey key, std::int64_t value);
LogonVerdict ldap_store_verify_logon(std::string_view name, const char *password,
                                     StoreAccount &account, DWORD &error);
DWORD ldap_store_unlock_account(std::string_view name);
DWORD ldap_store_check_store(std::vector<StoreFact> &facts, std::string &fault);
