#include "accountdb/sqlite_admin.h"

#include <cstdint>
#include <memory>

#include "accountdb/account_db.h"
#include "platform/account_names.h"

namespace {

constexpr const char LIST_GROUPS[] =
    "SELECT g.name, (SELECT count(*) FROM group_members m WHERE m.group_id = g.id),"
    " g.builtin, g.comment FROM local_groups g ORDER BY g.id";
constexpr const char LIST_MEMBERS[] =
    "SELECT u.name FROM group_members m JOIN user_accounts u ON u.id = m.user_id"
    " WHERE m.group_id = ?1 ORDER BY u.id";
constexpr const char GROUPS_OF_USER[] =
    "SELECT g.name FROM group_members m JOIN local_groups g ON g.id = m.group_id"
    " WHERE m.user_id = ?1 ORDER BY g.name";
constexpr const char GROUP_ROW[] = "SELECT id, builtin FROM local_groups WHERE folded = ?1";
constexpr const char USER_ROW[] = "SELECT id FROM user_accounts WHERE folded = ?1";
constexpr const char DELETE_MEMBERS[] = "DELETE FROM group_members WHERE group_id = ?1";
constexpr const char DELETE_GROUP[] = "DELETE FROM local_groups WHERE id = ?1";
constexpr const char DELETE_MEMBER[] =
    "DELETE FROM group_members WHERE group_id = ?1 AND user_id = ?2";
constexpr const char UNLOCK_USER[] =
    "UPDATE user_accounts SET failed_logons = 0, last_failed_logon = NULL,"
    " locked_until = NULL WHERE id = ?1";

struct Finalizer {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using OwnStatement = std::unique_ptr<sqlite3_stmt, Finalizer>;

// These run once per administrator's command: prepared each time.
OwnStatement prepare(const char *sql)
{
    sqlite3_stmt *raw = nullptr;
    int result = sqlite3_prepare_v2(account_db_connection(), sql, -1, &raw, nullptr);
    if (result != SQLITE_OK)
        account_db_failure("cannot prepare a statement", result);
    return OwnStatement(raw);
}

struct Row {
    std::int64_t id = 0;
    bool builtin = false;
};

// The row whose folded name matches; missing when there is none.
DWORD find_row(const char *sql, std::string_view name, DWORD missing, Row &row)
{
    OwnStatement statement = prepare(sql);
    if (!statement)
        return NERR_InternalError;
    std::string folded = fold_name(name);
    bind_text(statement.get(), 1, folded);
    int result = sqlite3_step(statement.get());
    if (result == SQLITE_DONE)
        return missing;
    if (result != SQLITE_ROW)
        return account_db_failure("cannot look up a name", result);
    row.id = sqlite3_column_int64(statement.get(), 0);
    row.builtin = sqlite3_column_count(statement.get()) > 1 &&
                  sqlite3_column_int64(statement.get(), 1) != 0;
    return NERR_Success;
}

DWORD run_on_ids(const char *sql, std::int64_t first, std::int64_t second)
{
    OwnStatement statement = prepare(sql);
    if (!statement)
        return NERR_InternalError;
    sqlite3_bind_int64(statement.get(), 1, first);
    sqlite3_bind_int64(statement.get(), 2, second);
    int result = sqlite3_step(statement.get());
    return result == SQLITE_DONE ? NERR_Success : account_db_failure("cannot change", result);
}

// The first column of every row of sql, bound to id.
DWORD names_of(const char *sql, std::int64_t id, std::vector<std::string> &names)
{
    names.clear();
    OwnStatement statement = prepare(sql);
    if (!statement)
        return NERR_InternalError;
    sqlite3_bind_int64(statement.get(), 1, id);
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW)
        names.push_back(column_text(statement.get(), 0));
    return result == SQLITE_DONE ? NERR_Success : account_db_failure("cannot read", result);
}

DWORD begin(DbTransaction &transaction, bool write)
{
    return write ? db_ready_write(transaction) : db_ready_read(transaction);
}

// Every row of a pragma's answer, joined.
bool pragma_rows(const char *sql, std::string &rows)
{
    OwnStatement statement = prepare(sql);
    if (!statement)
        return false;
    rows.clear();
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW)
        rows += (rows.empty() ? "" : "; ") + column_text(statement.get(), 0);
    return result == SQLITE_DONE;
}

}  // namespace

DWORD db_list_groups(std::vector<StoreGroup> &groups)
{
    groups.clear();
    DbTransaction transaction;
    DWORD status = begin(transaction, false);
    if (status != NERR_Success)
        return status;
    OwnStatement statement = prepare(LIST_GROUPS);
    if (!statement)
        return NERR_InternalError;
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
        StoreGroup &group = groups.emplace_back();
        group.name = column_text(statement.get(), 0);
        group.members = sqlite3_column_int64(statement.get(), 1);
        group.builtin = sqlite3_column_int64(statement.get(), 2) != 0;
        group.comment = column_optional_text(statement.get(), 3);
    }
    return result == SQLITE_DONE ? NERR_Success : account_db_failure("cannot list groups", result);
}

DWORD db_add_group(std::string_view name, const std::optional<std::string> &comment)
{
    if (!name_is_valid(name) || (comment && !text_member_is_valid(*comment)))
        return ERROR_INVALID_PARAMETER;
    DbTransaction transaction;
    DWORD status = begin(transaction, true);
    if (status != NERR_Success)
        return status;
    Row row;
    if ((status = find_row(USER_ROW, name, NERR_UserNotFound, row)) != NERR_UserNotFound)
        return status == NERR_Success ? NERR_UserExists : status;
    if ((status = find_row(GROUP_ROW, name, NERR_GroupNotFound, row)) != NERR_GroupNotFound)
        return status == NERR_Success ? NERR_GroupExists : status;
    status = db_run(INSERT_GROUP, "cannot add a group", name, fold_name(name), comment,
                    std::int64_t{0});
    if (status != NERR_Success)
        return status;
    return db_commit(transaction);
}

DWORD db_delete_group(std::string_view name)
{
    DbTransaction transaction;
    DWORD status = begin(transaction, true);
    if (status != NERR_Success)
        return status;
    Row group;
    if ((status = find_row(GROUP_ROW, name, NERR_GroupNotFound, group)) != NERR_Success)
        return status;
    if (group.builtin)
        return NERR_SpeGroupOp;
    if ((status = run_on_ids(DELETE_MEMBERS, group.id, 0)) != NERR_Success ||
        (status = run_on_ids(DELETE_GROUP, group.id, 0)) != NERR_Success)
        return status;
    return db_commit(transaction);
}

DWORD db_group_members(std::string_view group_name, std::vector<std::string> &members)
{
    members.clear();
    DbTransaction transaction;
    DWORD status = begin(transaction, false);
    if (status != NERR_Success)
        return status;
    Row group;
    if ((status = find_row(GROUP_ROW, group_name, NERR_GroupNotFound, group)) != NERR_Success)
        return status;
    return names_of(LIST_MEMBERS, group.id, members);
}

DWORD db_remove_group_member(std::string_view group_name, std::string_view member)
{
    DbTransaction transaction;
    DWORD status = begin(transaction, true);
    if (status != NERR_Success)
        return status;
    Row group;
    Row user;
    if ((status = find_row(GROUP_ROW, group_name, NERR_GroupNotFound, group)) != NERR_Success)
        return status;
    if ((status = find_row(USER_ROW, member, ERROR_NO_SUCH_MEMBER, user)) != NERR_Success)
        return status;
    if ((status = run_on_ids(DELETE_MEMBER, group.id, user.id)) != NERR_Success)
        return status;
    if (sqlite3_changes(account_db_connection()) == 0)
        return ERROR_MEMBER_NOT_IN_ALIAS;
    return db_commit(transaction);
}

DWORD db_account_groups(std::string_view name, std::vector<std::string> &groups)
{
    groups.clear();
    DbTransaction transaction;
    DWORD status = begin(transaction, false);
    if (status != NERR_Success)
        return status;
    Row user;
    if ((status = find_row(USER_ROW, name, NERR_UserNotFound, user)) != NERR_Success)
        return status;
    return names_of(GROUPS_OF_USER, user.id, groups);
}

DWORD db_unlock_user(std::string_view name)
{
    DbTransaction transaction;
    DWORD status = begin(transaction, true);
    if (status != NERR_Success)
        return status;
    Row user;
    if ((status = find_row(USER_ROW, name, NERR_UserNotFound, user)) != NERR_Success ||
        (status = run_on_ids(UNLOCK_USER, user.id, 0)) != NERR_Success)
        return status;
    return db_commit(transaction);
}

DWORD db_check(std::vector<StoreFact> &facts, std::string &fault)
{
    facts.clear();
    DWORD status = account_db_ready();
    if (status != NERR_Success) {
        fault = "cannot open " + account_db_path();
        return status;
    }
    std::string integrity;
    std::string version;
    if (!pragma_rows("PRAGMA integrity_check", integrity) ||
        !pragma_rows("PRAGMA user_version", version)) {
        fault = "cannot check " + account_db_path() + ": " +
                sqlite3_errmsg(account_db_connection());
        return NERR_InternalError;
    }
    facts = {{"file", account_db_path()}, {"integrity", integrity}, {"schema_version", version}};
    if (integrity != "ok")
        fault = "the integrity check found faults";
    else if (version != std::to_string(ACCOUNT_DB_SCHEMA_VERSION))
        fault = "schema version " + version + ", expected " +
                std::to_string(ACCOUNT_DB_SCHEMA_VERSION);
    return fault.empty() ? NERR_Success : NERR_InternalError;
}
