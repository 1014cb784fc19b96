// Local groups: the directory's groups under the group base.
#include <ldap.h>

#include "platform/account_names.h"
#include "ldapstore/ldap_filter.h"
#include "ldapstore/ldap_store_state.h"

namespace {

// The name a group's member value stands for.
std::string member_name(const std::string &value)
{
    if (!schema().member_is_dn)
        return value;
    LDAPDN dn = nullptr;
    std::string name = value;
    if (ldap_str2dn(value.c_str(), &dn, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS && dn && dn[0])
        name.assign(dn[0][0]->la_value.bv_val, dn[0][0]->la_value.bv_len);
    ldap_dnfree(dn);
    return name;
}

std::string next_gid(const std::vector<LdapEntry> &groups)
{
    long highest = 10000;
    for (const LdapEntry &group : groups)
        if (const std::string *gid = group.first("gidNumber"))
            highest = std::max(highest, std::atol(gid->c_str()));
    return std::to_string(highest + 1);
}

DWORD search_groups(std::vector<LdapEntry> &groups)
{
    int result = directory_search_entries(
        ldap_store.settings.group_base, LDAP_SCOPE_SUBTREE,
        std::string("(objectClass=") + schema().group_class + ")",
        {schema().group_naming, "description", schema().group_member, "gidNumber"}, groups);
    return directory_code(result, LdapTarget::BASE);
}

// Why member cannot join group (holding members), or NERR_Success with
// its value.
DWORD joinable(const LdapEntry &group, const std::string &member, std::string &value)
{
    LdapEntry entry;
    DWORD status = find_account_entry(member, entry, false);
    if (status == NERR_UserNotFound)
        return find_group_entry(member, entry) == NERR_Success ? ERROR_INVALID_MEMBER
                                                               : ERROR_NO_SUCH_MEMBER;
    if (status != NERR_Success)
        return status;
    value = member_value(entry);
    if (const std::vector<std::string> *members = group.find(schema().group_member))
        for (const std::string &present : *members)
            if (fold_name(present) == fold_name(value))
                return ERROR_MEMBER_IN_ALIAS;
    return NERR_Success;
}

}  // namespace

DWORD ldap_store_add_group_members(std::string_view group, const std::vector<std::string> &members)
{
    LdapEntry entry;
    DWORD status = find_group_entry(group, entry);
    LdapChange add{LDAP_MOD_ADD, schema().group_member, {}};
    for (std::size_t i = 0; status == NERR_Success && i < members.size(); ++i) {
        std::string value;
        status = joinable(entry, members[i], value);
        for (const std::string &earlier : add.values)
            if (status == NERR_Success && fold_name(earlier) == fold_name(value))
                status = ERROR_MEMBER_IN_ALIAS;
        add.values.push_back(value);
    }
    if (status != NERR_Success || members.empty())
        return status;
    int result = directory_modify_entry(entry.dn, {add});
    if (result != LDAP_SUCCESS)
        return directory_code(result, LdapTarget::GROUP);
    UndoLog undo{{UndoStep::MODIFY, entry.dn, {{LDAP_MOD_DELETE, add.attribute, add.values}}}};
    keep_undo(undo);
    return NERR_Success;
}

DWORD ldap_store_list_groups(std::vector<StoreGroup> &groups)
{
    groups.clear();
    std::vector<LdapEntry> entries;
    DWORD status = search_groups(entries);
    for (const LdapEntry &entry : entries) {
        const std::string *name = entry.first(schema().group_naming);
        if (name == nullptr)
            continue;
        StoreGroup group;
        group.name = *name;
        if (const std::string *comment = entry.first("description"))
            group.comment = *comment;
        const std::vector<std::string> *members = entry.find(schema().group_member);
        group.members = members != nullptr ? static_cast<std::int64_t>(members->size()) : 0;
        group.builtin = is_builtin(*name);
        groups.push_back(std::move(group));
    }
    return status;
}

DWORD ldap_store_add_group(std::string_view name, const std::optional<std::string> &comment)
{
    if (!name_is_valid(name))
        return ERROR_INVALID_PARAMETER;
    LdapEntry existing;
    if (find_group_entry(name, existing) == NERR_Success)
        return NERR_GroupExists;
    if (find_account_entry(name, existing, false) == NERR_Success)
        return NERR_UserExists;
    std::vector<LdapEntry> groups;
    DWORD status = search_groups(groups);
    if (status != NERR_Success)
        return status;
    std::string dn = std::string(schema().group_naming) + "=" + escape_dn_value(name) + "," +
                     ldap_store.settings.group_base;
    std::vector<LdapChange> attributes = {
        {LDAP_MOD_ADD, "objectClass", {"top", schema().group_class}},
        {LDAP_MOD_ADD, schema().group_naming, {std::string(name)}}};
    if (!schema().member_is_dn)
        attributes.push_back({LDAP_MOD_ADD, "gidNumber", {next_gid(groups)}});
    if (comment && !comment->empty())
        attributes.push_back({LDAP_MOD_ADD, "description", {*comment}});
    int result = directory_add_entry(dn, attributes);
    if (result != LDAP_SUCCESS)
        return directory_code(result, result == LDAP_NO_SUCH_OBJECT ? LdapTarget::BASE
                                                                    : LdapTarget::GROUP);
    UndoLog undo{{UndoStep::REMOVE, dn, {}}};
    keep_undo(undo);
    return NERR_Success;
}

DWORD ldap_store_delete_group(std::string_view name)
{
    LdapEntry entry;
    DWORD status = find_group_entry(name, entry);
    if (status != NERR_Success)
        return status;
    if (is_builtin(name))
        return NERR_SpeGroupOp;
    return directory_code(directory_delete_entry(entry.dn), LdapTarget::GROUP);
}

DWORD ldap_store_group_members(std::string_view group, std::vector<std::string> &members)
{
    members.clear();
    LdapEntry entry;
    DWORD status = find_group_entry(group, entry);
    if (const std::vector<std::string> *values = entry.find(schema().group_member))
        for (const std::string &value : *values)
            members.push_back(member_name(value));
    return status;
}

DWORD ldap_store_remove_group_member(std::string_view group, std::string_view member)
{
    LdapEntry entry;
    DWORD status = find_group_entry(group, entry);
    if (status != NERR_Success)
        return status;
    const std::vector<std::string> *values = entry.find(schema().group_member);
    for (std::size_t i = 0; values != nullptr && i < values->size(); ++i) {
        const std::string &value = (*values)[i];
        if (fold_name(member_name(value)) != fold_name(member))
            continue;
        int result =
            directory_modify_entry(entry.dn, {{LDAP_MOD_DELETE, schema().group_member, {value}}});
        if (result != LDAP_SUCCESS)
            return directory_code(result, LdapTarget::GROUP);
        UndoLog undo{{UndoStep::MODIFY, entry.dn, {{LDAP_MOD_ADD, schema().group_member,
                                                     {value}}}}};
        keep_undo(undo);
        return NERR_Success;
    }
    return ERROR_NO_SUCH_MEMBER;
}

DWORD ldap_store_account_groups(std::string_view name, std::vector<std::string> &groups)
{
    groups.clear();
    LdapEntry entry;
    DWORD status = find_account_entry(name, entry, false);
    std::vector<LdapEntry> entries;
    std::set<std::string> folded;
    if (status == NERR_Success)
        status = groups_of(member_value(entry), folded, &entries);
    for (const LdapEntry &group : entries)
        if (const std::string *group_name = group.first(schema().group_naming))
            groups.push_back(*group_name);
    return status;
}
