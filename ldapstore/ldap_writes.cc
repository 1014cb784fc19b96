// Accounts added, changed and removed. Each write leaves no half-made
// account: when a later step fails, the steps done are undone.
#include <ldap.h>

#include <cerrno>
#include <cstring>

#include "platform/parameter_number.h"
#include "platform/account_names.h"
#include "platform/secret_text.h"
#include "platform/utf_text.h"
#include "hashing/password_hash.h"
#include "ldapstore/ldap_filter.h"
#include "ldapstore/ldap_store_state.h"
#include "log/trace_log.h"

namespace {

const char ADMINISTRATORS[] = "Administrators";
const char GUESTS[] = "Guests";

// AD takes a password only as its quoted text in UTF-16LE; password_fault
// has found the text valid UTF-8.
std::string ad_password(std::string_view text)
{
    // Built by appends: GCC 12 takes operator+ here for an overlapping copy.
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted.append(1, '"').append(text).append(1, '"');
    std::vector<WCHAR> units(wide_units_of(quoted));
    utf8_to_wide(quoted, units.data());
    std::string out;
    for (WCHAR unit : units) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    wipe_memory(units.data(), units.size() * sizeof(WCHAR));
    wipe_memory(quoted.data(), quoted.size());
    return out;
}

DWORD invalid(DWORD *parm_err, DWORD index)
{
    if (parm_err != nullptr)
        *parm_err = index;
    return ERROR_INVALID_PARAMETER;
}

// NERR_Success when a new password may be stored: a text the directory
// can hold and the policy's minimum takes (a kept hash always may).
DWORD password_allowed(const StorePassword &password, DWORD *parm_err)
{
    if (password.hash != nullptr)
        return NERR_Success;
    const char *text = password.text != nullptr ? password.text : "";
    if (password_fault(text) != 0)
        return invalid(parm_err, MEMBER_PASSWORD);
    std::int64_t minimum = 0;
    DWORD status = policy_minimum_length(minimum);
    if (status != NERR_Success)
        return status;
    if (static_cast<std::int64_t>(wide_units_of(text)) < minimum)
        return NERR_PasswordTooShort;
    return NERR_Success;
}

// The value of the password attribute for a new password that
// password_allowed took, or for a kept hash.
DWORD password_value(const StorePassword &password, std::string &value)
{
    if (password.hash != nullptr) {
        if (!schema().crypt_passwords) {
            log_error("directory: a %s directory takes no password hashes", schema().name);
            return NERR_InternalError;
        }
        value = std::string("{CRYPT}") + password.hash;
        return NERR_Success;
    }
    const char *text = password.text != nullptr ? password.text : "";
    if (!schema().crypt_passwords) {
        value = ad_password(text);
        return NERR_Success;
    }
    std::string hash;
    if (hash_password(text, hash) != 0) {
        log_error("password hashing failed: %s", std::strerror(errno));
        return NERR_InternalError;
    }
    value = "{CRYPT}" + hash;
    return NERR_Success;
}

// 0 or the index of the first member the directory cannot hold.
DWORD account_fault(const StoreAccount &account, bool with_name)
{
    DWORD fault = account_member_fault(account, with_name);
    if (fault != 0)
        return fault;
    // homeDirectory is an IA5 (ASCII) string.
    for (char c : account.home_dir.value_or(""))
        if (static_cast<unsigned char>(c) >= 0x80)
            return MEMBER_HOME_DIR;
    return 0;
}

struct TextMember {
    const char *attribute;
    const std::optional<std::string> &value;
};

// Replaces of the text members, the flags and the empty-text markers.
std::vector<LdapChange> member_changes(const StoreAccount &account)
{
    TextMember texts[] = {{schema().home_dir, account.home_dir},
                          {schema().comment, account.comment},
                          {schema().script_path, account.script_path}};
    std::vector<LdapChange> changes;
    LdapChange empty{LDAP_MOD_REPLACE, schema().empty_member ? schema().empty_member : "", {}};
    for (const TextMember &text : texts) {
        changes.push_back({LDAP_MOD_REPLACE, text.attribute, {}});
        if (text.value && !text.value->empty())
            changes.back().values.push_back(*text.value);
        else if (text.value)
            empty.values.push_back(text.attribute);
    }
    if (schema().empty_member != nullptr)
        changes.push_back(empty);
    changes.push_back({LDAP_MOD_REPLACE, schema().flags, {std::to_string(account.flags)}});
    return changes;
}

// The changes that put the attributes that changes touch back as entry has them.
std::vector<LdapChange> restoring(const LdapEntry &entry, const std::vector<LdapChange> &changes)
{
    std::vector<LdapChange> back;
    for (const LdapChange &change : changes) {
        if (change.attribute == "objectClass") {
            back.push_back({LDAP_MOD_DELETE, change.attribute, change.values});
            continue;
        }
        const std::vector<std::string> *old = entry.find(change.attribute.c_str());
        back.push_back({LDAP_MOD_REPLACE, change.attribute,
                        old != nullptr ? *old : std::vector<std::string>{}});
    }
    return back;
}

DWORD modify_group(const char *group, int op, const std::string &member, UndoLog &undo)
{
    LdapEntry entry;
    DWORD status = find_group_entry(group, entry);
    if (status != NERR_Success)
        return status;
    int result = directory_modify_entry(entry.dn, {{op, schema().group_member, {member}}});
    if (result != LDAP_SUCCESS)
        return directory_code(result, LdapTarget::GROUP);
    int reverse = op == LDAP_MOD_ADD ? LDAP_MOD_DELETE : LDAP_MOD_ADD;
    undo.push_back({UndoStep::MODIFY, entry.dn, {{reverse, schema().group_member, {member}}}});
    return NERR_Success;
}

// Memberships of Administrators and Guests as priv asks.
DWORD set_priv_groups(const std::string &member, DWORD priv, const std::set<std::string> &now,
                      UndoLog &undo)
{
    struct Want {
        const char *group;
        bool wanted;
    } wants[] = {{ADMINISTRATORS, priv == USER_PRIV_ADMIN}, {GUESTS, priv == USER_PRIV_GUEST}};
    for (const Want &want : wants) {
        bool in = now.count(fold_name(want.group)) != 0;
        if (in == want.wanted)
            continue;
        DWORD status = modify_group(want.group, want.wanted ? LDAP_MOD_ADD : LDAP_MOD_DELETE,
                                    member, undo);
        if (status != NERR_Success)
            return status;
    }
    return NERR_Success;
}

DWORD name_taken(std::string_view name)
{
    LdapEntry entry;
    DWORD status = find_account_entry(name, entry, false);
    if (status != NERR_UserNotFound)
        return status == NERR_Success ? NERR_UserExists : status;
    status = find_group_entry(name, entry);
    if (status != NERR_GroupNotFound)
        return status == NERR_Success ? NERR_GroupExists : status;
    return NERR_Success;
}

DWORD add_account(const StoreAccount &account, const std::string &password, UndoLog &undo)
{
    std::string dn = std::string(schema().rdn) + "=" + escape_dn_value(account.name) + "," +
                     ldap_store.settings.user_base;
    std::vector<LdapChange> attributes = {{LDAP_MOD_ADD, "objectClass", {}},
                                          {LDAP_MOD_ADD, schema().naming, {account.name}}};
    // In a change, the password comes last, once the groups are joined: an
    // entry without one checks no password. AD takes a new account only
    // with its password, and keeps it disabled until the flags say so.
    if (ldap_store.in_change && schema().crypt_passwords)
        ldap_store.completion.push_back(
            {UndoStep::MODIFY, dn, {{LDAP_MOD_REPLACE, schema().password, {password}}}});
    else
        attributes.push_back({LDAP_MOD_ADD, schema().password, {password}});
    for (const char *const *c = schema().new_account_classes; *c != nullptr; ++c)
        attributes[0].values.push_back(*c);
    if (schema().crypt_passwords) {
        attributes.push_back({LDAP_MOD_ADD, "cn", {account.name}});
        attributes.push_back({LDAP_MOD_ADD, "sn", {account.name}});
    }
    for (LdapChange &change : member_changes(account))
        if (!change.values.empty())
            attributes.push_back({LDAP_MOD_ADD, change.attribute, change.values});
    int result = directory_add_entry(dn, attributes);
    if (result != LDAP_SUCCESS)
        return directory_code(result, LdapTarget::BASE);
    undo.push_back({UndoStep::REMOVE, dn, {}});
    std::string member = schema().member_is_dn ? dn : account.name;
    return set_priv_groups(member, account.priv, {}, undo);
}

// Entries that other tools made have only the standard classes.
bool lacks_aux_class(const LdapEntry &entry)
{
    if (schema().aux_class == nullptr)
        return false;
    const std::vector<std::string> *classes = entry.find("objectClass");
    for (std::size_t i = 0; classes != nullptr && i < classes->size(); ++i)
        if (fold_name((*classes)[i]) == fold_name(schema().aux_class))
            return false;
    return true;
}

// Takes member out of every group that lists it.
DWORD leave_groups(const std::string &member, UndoLog &undo)
{
    std::set<std::string> names;
    std::vector<LdapEntry> groups;
    DWORD status = groups_of(member, names, &groups);
    for (std::size_t i = 0; status == NERR_Success && i < groups.size(); ++i) {
        const std::string *group = groups[i].first(schema().group_naming);
        status = modify_group(group != nullptr ? group->c_str() : "", LDAP_MOD_DELETE, member,
                              undo);
    }
    return status;
}

// A deletion takes the password first: cut short, it leaves an entry that
// checks no password, which the next set or del of its name removes.
DWORD stop_password(const LdapEntry &whole, UndoLog &undo)
{
    const std::vector<std::string> *password = whole.find(schema().password);
    if (!schema().crypt_passwords || password == nullptr)
        return NERR_Success;
    int result = directory_modify_entry(whole.dn, {{LDAP_MOD_DELETE, schema().password, {}}});
    if (result != LDAP_SUCCESS)
        return directory_code(result, LdapTarget::ACCOUNT);
    undo.push_back({UndoStep::MODIFY, whole.dn, {{LDAP_MOD_REPLACE, schema().password, *password}}});
    return NERR_Success;
}

DWORD finish(DWORD status, UndoLog &undo)
{
    if (status != NERR_Success)
        run_undo(undo);
    else
        keep_undo(undo);
    return status;
}

}  // namespace

DWORD ldap_store_insert_account(const StoreAccount &account, const StorePassword &password,
                                DWORD *parm_err)
{
    DWORD fault = account_fault(account, true);
    if (fault != 0)
        return invalid(parm_err, fault);
    // Whether it adds or is refused for a taken name (which set answers by
    // replacing the account) is known before the password is hashed.
    DWORD status = password_allowed(password, parm_err);
    if (status == NERR_Success)
        status = name_taken(account.name);
    std::string value;
    if (status == NERR_Success)
        status = password_value(password, value);
    if (status != NERR_Success)
        return status;
    UndoLog undo;
    return finish(add_account(account, value, undo), undo);
}

DWORD ldap_store_update_account(std::string_view name, const StoreAccount &values,
                                const StorePassword *password, DWORD *parm_err)
{
    DWORD fault = account_fault(values, false);
    if (fault != 0)
        return invalid(parm_err, fault);
    LdapEntry entry;
    DWORD status = find_account_entry(name, entry, true);
    std::vector<LdapChange> changes = member_changes(values);
    if (status == NERR_Success && password != nullptr) {
        std::string value;
        status = password_allowed(*password, parm_err);
        if (status == NERR_Success)
            status = password_value(*password, value);
        changes.push_back({LDAP_MOD_REPLACE, schema().password, {value}});
    }
    if (status != NERR_Success)
        return status;
    if (lacks_aux_class(entry))
        changes.insert(changes.begin(), {LDAP_MOD_ADD, "objectClass", {schema().aux_class}});
    int result = directory_modify_entry(entry.dn, changes);
    if (result != LDAP_SUCCESS)
        return directory_code(result, LdapTarget::ACCOUNT);
    UndoLog undo{{UndoStep::MODIFY, entry.dn, restoring(entry, changes)}};
    std::set<std::string> groups;
    std::string member = member_value(entry);
    status = groups_of(member, groups);
    if (status == NERR_Success)
        status = set_priv_groups(member, values.priv, groups, undo);
    return finish(status, undo);
}

DWORD ldap_store_delete_account(std::string_view name)
{
    LdapEntry entry;
    DWORD status = find_account_entry(name, entry, false);
    if (status != NERR_Success)
        return status;
    // Everything the service identity may read, the password included, so
    // that an undo puts the account back whole.
    std::vector<LdapEntry> whole;
    int result = directory_search_entries(entry.dn, LDAP_SCOPE_BASE, "(objectClass=*)",
                                          {"*", schema().password}, whole);
    if (result != LDAP_SUCCESS || whole.empty())
        return directory_code(result == LDAP_SUCCESS ? LDAP_NO_SUCH_OBJECT : result,
                              LdapTarget::ACCOUNT);
    UndoLog undo;
    status = stop_password(whole.front(), undo);
    if (status == NERR_Success)
        status = leave_groups(member_value(entry), undo);
    if (status == NERR_Success) {
        result = directory_delete_entry(entry.dn);
        status = directory_code(result, LdapTarget::ACCOUNT);
    }
    if (status == NERR_Success) {
        UndoStep add{UndoStep::ADD, entry.dn, {}};
        for (const auto &[attribute, values] : whole.front().values)
            add.changes.push_back({LDAP_MOD_ADD, attribute, values});
        undo.push_back(std::move(add));
    }
    return finish(status, undo);
}

DWORD ldap_store_import_accounts(const std::vector<StoreImport> &accounts)
{
    std::set<std::string> seen;
    for (const StoreImport &item : accounts) {
        if (account_fault(item.account, true) != 0)
            return ERROR_INVALID_PARAMETER;
        if (!seen.insert(fold_name(item.account.name)).second)
            return NERR_UserExists;
        DWORD status = name_taken(item.account.name);
        if (status != NERR_Success)
            return status;
    }
    UndoLog undo;
    DWORD status = NERR_Success;
    for (std::size_t i = 0; status == NERR_Success && i < accounts.size(); ++i) {
        std::string value;
        StorePassword hash{nullptr, accounts[i].hash.c_str()};
        status = password_value(hash, value);
        if (status == NERR_Success)
            status = add_account(accounts[i].account, value, undo);
    }
    return finish(status, undo);
}
