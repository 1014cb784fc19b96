#include "ldapstore/ldap_store.h"

#include <ldap.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <set>

#include "platform/account_names.h"
#include "hashing/password_hash.h"
#include "ldapstore/ldap_connection.h"
#include "ldapstore/ldap_filter.h"
#include "ldapstore/ldap_operations.h"
#include "ldapstore/ldap_refusal_times.h"
#include "ldapstore/ldap_schema.h"
#include "ldapstore/ldap_store_state.h"
#include "log/trace_log.h"

LdapStoreState ldap_store;

namespace {

const char ADMINISTRATORS[] = "Administrators";
const char GUESTS[] = "Guests";
const char *const BUILTIN_GROUPS[] = {ADMINISTRATORS, "Users", GUESTS};

}  // namespace

const PrivilegeGroup PRIVILEGE_GROUPS[2] = {{ADMINISTRATORS, USER_PRIV_ADMIN},
                                            {GUESTS, USER_PRIV_GUEST}};

const LdapSchema &schema()
{
    return *ldap_store.schema;
}

std::string account_filter(std::string_view name)
{
    return std::string("(&(objectClass=") + schema().account_class + ")" +
           equality_filter(schema().naming, name) + ")";
}

std::string group_filter(std::string_view name)
{
    return std::string("(&(objectClass=") + schema().group_class + ")" +
           equality_filter(schema().group_naming, name) + ")";
}

std::vector<const char *> account_attributes(bool with_password)
{
    std::vector<const char *> names = {schema().naming,  schema().home_dir,
                                       schema().comment, schema().script_path,
                                       schema().flags,   schema().lock_time,
                                       schema().password_set, "objectClass"};
    if (schema().empty_member != nullptr)
        names.push_back(schema().empty_member);
    if (with_password)
        names.push_back(schema().password);
    return names;
}

bool is_builtin(std::string_view group)
{
    for (const char *name : BUILTIN_GROUPS)
        if (fold_name(group) == fold_name(name))
            return true;
    return false;
}

// What a group lists for the account: its name, or its DN on AD.
std::string member_value(const LdapEntry &account)
{
    const std::string *name = account.first(schema().naming);
    return schema().member_is_dn ? account.dn : (name != nullptr ? *name : "");
}

namespace {

bool has_value(const std::vector<std::string> *values, std::string_view wanted)
{
    if (values == nullptr)
        return false;
    for (const std::string &value : *values)
        if (fold_name(value) == fold_name(wanted))
            return true;
    return false;
}

// The member as stored, or absent; an empty text is marked, since the
// directory holds no empty values.
std::optional<std::string> text_member(const LdapEntry &entry, const char *attribute)
{
    if (const std::string *value = entry.first(attribute))
        return *value;
    if (schema().empty_member != nullptr && has_value(entry.find(schema().empty_member), attribute))
        return std::string();
    return std::nullopt;
}

std::int64_t parse_time(const std::string &text)
{
    if (text.empty() || text.back() != 'Z') {
        // AD: 100 ns ticks since 1601.
        long long ticks = std::atoll(text.c_str());
        return ticks <= 0 ? 0 : ticks / 10000000 - 11644473600LL;
    }
    std::tm parts{};
    if (strptime(text.c_str(), "%Y%m%d%H%M%S", &parts) == nullptr)
        return 0;
    return timegm(&parts);
}

}  // namespace

void read_account(const LdapEntry &entry, StoreAccount &account)
{
    const std::string *name = entry.first(schema().naming);
    account.name = name != nullptr ? *name : "";
    account.home_dir = text_member(entry, schema().home_dir);
    account.comment = text_member(entry, schema().comment);
    account.script_path = text_member(entry, schema().script_path);
    const std::string *flags = entry.first(schema().flags);
    account.flags = flags != nullptr ? static_cast<DWORD>(std::strtoul(flags->c_str(), nullptr, 10))
                                     : UF_SCRIPT | UF_NORMAL_ACCOUNT;
    const std::string *lock = entry.first(schema().lock_time);
    account.locked = lock != nullptr && *lock != "0";
    const std::string *set = entry.first(schema().password_set);
    account.password_set = set != nullptr ? parse_time(*set) : 0;
}

DWORD priv_of(const std::set<std::string> &groups)
{
    for (const PrivilegeGroup &group : PRIVILEGE_GROUPS)
        if (groups.count(fold_name(group.name)) != 0)
            return group.priv;
    return USER_PRIV_USER;
}

// The folded names of the groups that list member.
DWORD groups_of(const std::string &member, std::set<std::string> &names,
                std::vector<LdapEntry> *entries)
{
    std::vector<LdapEntry> found;
    std::string filter = std::string("(&(objectClass=") + schema().group_class + ")" +
                         equality_filter(schema().group_member, member) + ")";
    int result = directory_search_entries(ldap_store.settings.group_base, LDAP_SCOPE_SUBTREE,
                                          filter, {schema().group_naming}, found);
    if (result != LDAP_SUCCESS)
        return directory_code(result, LdapTarget::BASE);
    for (const LdapEntry &group : found)
        if (const std::string *name = group.first(schema().group_naming))
            names.insert(fold_name(*name));
    if (entries != nullptr)
        *entries = std::move(found);
    return NERR_Success;
}

DWORD find_group_entry(std::string_view name, LdapEntry &entry)
{
    if (!name_is_valid(name))
        return NERR_GroupNotFound;
    std::vector<LdapEntry> found;
    int result = directory_search_entries(ldap_store.settings.group_base, LDAP_SCOPE_SUBTREE,
                                          group_filter(name),
                                          {schema().group_naming, "description",
                                           schema().group_member},
                                          found);
    if (result != LDAP_SUCCESS)
        return directory_code(result, LdapTarget::BASE);
    if (found.empty())
        return NERR_GroupNotFound;
    entry = std::move(found.front());
    return NERR_Success;
}

DWORD find_account_entry(std::string_view name, LdapEntry &entry, bool with_password)
{
    if (!name_is_valid(name))
        return NERR_UserNotFound;
    std::vector<LdapEntry> found;
    int result = directory_search_entries(ldap_store.settings.user_base, LDAP_SCOPE_SUBTREE,
                                          account_filter(name), account_attributes(with_password),
                                          found);
    if (result != LDAP_SUCCESS)
        return directory_code(result, LdapTarget::BASE);
    if (found.empty())
        return NERR_UserNotFound;
    entry = std::move(found.front());
    return NERR_Success;
}

DWORD read_account_entry(const LdapEntry &entry, StoreAccount &account)
{
    read_account(entry, account);
    std::set<std::string> groups;
    DWORD status = groups_of(member_value(entry), groups);
    account.priv = priv_of(groups);
    return status;
}

namespace {

DWORD refuse_setting(StoreSettingFault &fault, StoreSettingFault found)
{
    fault = std::move(found);
    log_error("directory settings: %s %s {%s}", fault.problem, fault.key, fault.value.c_str());
    return NERR_InternalError;
}

DWORD ldap_store_open(const StoreSettings &settings, StoreSettingFault &fault)
{
    ldap_store = LdapStoreState{};
    ldap_store.settings = settings.ldap;
    refusal_times_use_file(refusal_times_file(settings.account_db));
    ldap_store.schema = find_ldap_schema(settings.ldap.schema);
    if (ldap_store.schema == nullptr)
        return refuse_setting(fault, {"Unknown", "ldap_schema", settings.ldap.schema, ""});
    // Every command reads below both bases: without one nothing can work.
    if (settings.ldap.user_base.empty())
        return refuse_setting(fault, {"Missing", "ldap_user_base", "", ""});
    if (settings.ldap.group_base.empty())
        return refuse_setting(fault, {"Missing", "ldap_group_base", "", ""});
    return directory_configure(settings.ldap, fault);
}

void ldap_store_close()
{
    directory_end_listings();
    directory_disconnect();
    directory_forget();
    ldap_store.in_change = false;
    ldap_store.change.clear();
    ldap_store.completion.clear();
    ldap_store.min_password_length.reset();
}

DWORD ldap_store_find_account(std::string_view name, StoreAccount &account)
{
    LdapEntry entry;
    DWORD status = find_account_entry(name, entry, false);
    return status != NERR_Success ? status : read_account_entry(entry, account);
}

DWORD ldap_store_begin_change()
{
    ldap_store.in_change = true;
    ldap_store.change.clear();
    ldap_store.completion.clear();
    return NERR_Success;
}

DWORD ldap_store_end_change(bool keep)
{
    DWORD status = keep ? complete_change() : NERR_Success;
    if (!keep)
        run_undo(ldap_store.change);
    ldap_store.in_change = false;
    ldap_store.change.clear();
    ldap_store.completion.clear();
    ldap_store.min_password_length.reset();
    return status;
}

}  // namespace

DWORD complete_change()
{
    for (const UndoStep &step : ldap_store.completion) {
        int result = directory_modify_entry(step.dn, step.changes);
        if (result != LDAP_SUCCESS) {
            run_undo(ldap_store.change);
            return directory_code(result, LdapTarget::ACCOUNT);
        }
    }
    return NERR_Success;
}

void keep_undo(UndoLog &undo)
{
    if (ldap_store.in_change)
        ldap_store.change.insert(ldap_store.change.end(), undo.begin(), undo.end());
    undo.clear();
}

const AccountBackend LDAP_STORE = {
    .name = "ldap",
    .open = ldap_store_open,
    .close = ldap_store_close,
    .find_account = ldap_store_find_account,
    .list_accounts = ldap_store_list_accounts,
    .insert_account = ldap_store_insert_account,
    .update_account = ldap_store_update_account,
    .delete_account = ldap_store_delete_account,
    .add_group_members = ldap_store_add_group_members,
    .begin_change = ldap_store_begin_change,
    .end_change = ldap_store_end_change,
    .read_policy = ldap_store_read_policy,
    .write_policy = ldap_store_write_policy,
    .verify_logon = ldap_store_verify_logon,
    .list_groups = ldap_store_list_groups,
    .add_group = ldap_store_add_group,
    .delete_group = ldap_store_delete_group,
    .group_members = ldap_store_group_members,
    .remove_group_member = ldap_store_remove_group_member,
    .account_groups = ldap_store_account_groups,
    .unlock_account = ldap_store_unlock_account,
    .import_accounts = ldap_store_import_accounts,
    .check_store = ldap_store_check_store,
    .last_fault = directory_last_fault,
};
