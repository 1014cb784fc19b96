// The account database's answers to the administration tool: local groups,
// memberships, unlocking and the file's health. Each operation is one
// transaction and answers the service's result codes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/account_backend.h"

DWORD db_list_groups(std::vector<StoreGroup> &groups);
// Users and groups share one namespace: NERR_UserExists or NERR_GroupExists.
DWORD db_add_group(std::string_view name, const std::optional<std::string> &comment);
// NERR_SpeGroupOp for a built-in group, which new accounts join.
DWORD db_delete_group(std::string_view name);
// In order of the members' creation.
DWORD db_group_members(std::string_view group, std::vector<std::string> &members);
// ERROR_MEMBER_NOT_IN_ALIAS when the user is not in the group.
DWORD db_remove_group_member(std::string_view group, std::string_view member);
DWORD db_account_groups(std::string_view name, std::vector<std::string> &groups);
// Forgets the failed logons and any lock.
DWORD db_unlock_user(std::string_view name);
// The file, SQLite's integrity check and the schema version.
DWORD db_check(std::vector<StoreFact> &facts, std::string &fault);
