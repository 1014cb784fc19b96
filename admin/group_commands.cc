// lodgate-admin group list|add|del|members|join|leave
#include <memory>
#include <string>

#include "accountdb/account_db.h"
#include "accountdb/account_names.h"
#include "accountdb/user_records.h"
#include "admin/admin.h"
#include "platform/win_types.h"

namespace {

constexpr const char LIST_GROUPS[] =
    "SELECT g.name, (SELECT count(*) FROM group_members m WHERE m.group_id = g.id),"
    " g.builtin, g.comment FROM local_groups g ORDER BY g.id";
constexpr const char LIST_MEMBERS[] =
    "SELECT u.name FROM group_members m JOIN user_accounts u ON u.id = m.user_id"
    " JOIN local_groups g ON g.id = m.group_id WHERE g.folded = ?1 ORDER BY u.id";
constexpr const char GROUP_ROW[] = "SELECT id, builtin FROM local_groups WHERE folded = ?1";
constexpr const char USER_ROW[] = "SELECT id FROM user_accounts WHERE folded = ?1";
constexpr const char DELETE_MEMBERS[] = "DELETE FROM group_members WHERE group_id = ?1";
constexpr const char DELETE_GROUP[] = "DELETE FROM local_groups WHERE id = ?1";
constexpr const char DELETE_MEMBER[] =
    "DELETE FROM group_members WHERE group_id = ?1 AND user_id = ?2";

struct Finalizer {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using OwnStatement = std::unique_ptr<sqlite3_stmt, Finalizer>;

OwnStatement prepare(const char *sql)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(account_db_connection(), sql, -1, &raw, nullptr) != SQLITE_OK)
        account_db_failure("cannot prepare a statement", SQLITE_ERROR);
    return OwnStatement(raw);
}

int database_fail()
{
    return admin_fail(ADMIN_FAILED, "%s", admin_status_text(NERR_InternalError));
}

// The first two columns of the row whose folded name matches; missing when
// there is none.
DWORD find_row(const char *sql, const std::string &name, DWORD missing, std::int64_t &id,
               std::int64_t &builtin)
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
    id = sqlite3_column_int64(statement.get(), 0);
    builtin = sqlite3_column_count(statement.get()) > 1 ? sqlite3_column_int64(statement.get(), 1)
                                                        : 0;
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

int outcome(DWORD status, const std::string &name)
{
    if (status == NERR_Success)
        return ADMIN_OK;
    return admin_fail(ADMIN_FAILED, "%s: %s", name.c_str(), admin_status_text(status));
}

int list(const AdminWords &, const AdminOptions &options)
{
    OwnStatement statement = prepare(LIST_GROUPS);
    if (!statement)
        return database_fail();
    if (!options.tsv)
        std::printf("%-20s %7s %-8s %s\n", "GROUP", "MEMBERS", "KIND", "COMMENT");
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
        std::string comment = column_text(statement.get(), 3);
        std::printf(options.tsv ? "%s\t%lld\t%s\t%s\n" : "%-20s %7lld %-8s %s\n",
                    column_text(statement.get(), 0).c_str(),
                    static_cast<long long>(sqlite3_column_int64(statement.get(), 1)),
                    sqlite3_column_int64(statement.get(), 2) != 0 ? "builtin" : "local",
                    comment.empty() ? "-" : comment.c_str());
    }
    return result == SQLITE_DONE ? ADMIN_OK : database_fail();
}

int add(const AdminWords &words, const AdminOptions &)
{
    const std::string &name = words[0];
    if (!name_is_valid(name))
        return outcome(ERROR_INVALID_PARAMETER, name);
    DbTransaction transaction;
    if (db_begin_write(transaction) != NERR_Success)
        return database_fail();
    std::int64_t id = 0;
    std::int64_t builtin = 0;
    // Users and groups share one name space, as on Windows.
    if (find_row(USER_ROW, name, NERR_UserNotFound, id, builtin) == NERR_Success)
        return outcome(NERR_UserExists, name);
    if (find_row(GROUP_ROW, name, NERR_GroupNotFound, id, builtin) == NERR_Success)
        return outcome(NERR_GroupExists, name);
    sqlite3_stmt *insert = account_db_statement(INSERT_GROUP);
    if (insert == nullptr)
        return database_fail();
    std::string folded = fold_name(name);
    {
        StatementScope scope(insert);
        bind_text(insert, 1, name);
        bind_text(insert, 2, folded);
        sqlite3_bind_null(insert, 3);
        sqlite3_bind_int(insert, 4, 0);
        if (sqlite3_step(insert) != SQLITE_DONE)
            return database_fail();
    }
    return outcome(db_commit(transaction), name);
}

int del(const AdminWords &words, const AdminOptions &)
{
    const std::string &name = words[0];
    DbTransaction transaction;
    if (db_begin_write(transaction) != NERR_Success)
        return database_fail();
    std::int64_t id = 0;
    std::int64_t builtin = 0;
    DWORD status = find_row(GROUP_ROW, name, NERR_GroupNotFound, id, builtin);
    if (status != NERR_Success)
        return outcome(status, name);
    // New accounts join the built-in groups; they stay.
    if (builtin != 0)
        return admin_fail(ADMIN_FAILED, "%s: a built-in group cannot be deleted", name.c_str());
    status = run_on_ids(DELETE_MEMBERS, id, 0);
    if (status == NERR_Success)
        status = run_on_ids(DELETE_GROUP, id, 0);
    if (status == NERR_Success)
        status = db_commit(transaction);
    return outcome(status, name);
}

int members(const AdminWords &words, const AdminOptions &)
{
    std::int64_t id = 0;
    std::int64_t builtin = 0;
    DWORD status = find_row(GROUP_ROW, words[0], NERR_GroupNotFound, id, builtin);
    if (status != NERR_Success)
        return outcome(status, words[0]);
    OwnStatement statement = prepare(LIST_MEMBERS);
    if (!statement)
        return database_fail();
    std::string folded = fold_name(words[0]);
    bind_text(statement.get(), 1, folded);
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW)
        std::printf("%s\n", column_text(statement.get(), 0).c_str());
    return result == SQLITE_DONE ? ADMIN_OK : database_fail();
}

int join(const AdminWords &words, const AdminOptions &)
{
    DWORD status = add_group_members(words[0], {words[1]});
    if (status == ERROR_NO_SUCH_MEMBER)
        return admin_fail(ADMIN_FAILED, "%s: no such user", words[1].c_str());
    if (status == ERROR_MEMBER_IN_ALIAS)
        return admin_fail(ADMIN_FAILED, "%s is already in %s", words[1].c_str(),
                          words[0].c_str());
    return outcome(status, words[0]);
}

int leave(const AdminWords &words, const AdminOptions &)
{
    DbTransaction transaction;
    if (db_begin_write(transaction) != NERR_Success)
        return database_fail();
    std::int64_t group_id = 0;
    std::int64_t user_id = 0;
    std::int64_t builtin = 0;
    DWORD status = find_row(GROUP_ROW, words[0], NERR_GroupNotFound, group_id, builtin);
    if (status != NERR_Success)
        return outcome(status, words[0]);
    status = find_row(USER_ROW, words[1], NERR_UserNotFound, user_id, builtin);
    if (status != NERR_Success)
        return outcome(status, words[1]);
    if (run_on_ids(DELETE_MEMBER, group_id, user_id) != NERR_Success)
        return database_fail();
    if (sqlite3_changes(account_db_connection()) == 0)
        return admin_fail(ADMIN_FAILED, "%s is not in %s", words[1].c_str(), words[0].c_str());
    return outcome(db_commit(transaction), words[0]);
}

struct Action {
    const char *name;
    std::size_t words;
    int (*run)(const AdminWords &, const AdminOptions &);
};

constexpr Action ACTIONS[] = {
    {"list", 0, list}, {"add", 1, add},   {"del", 1, del},
    {"members", 1, members}, {"join", 2, join}, {"leave", 2, leave},
};

}  // namespace

int run_group_command(const AdminWords &words, const AdminOptions &options)
{
    if (words.empty())
        return admin_fail(ADMIN_USAGE, "group: an action is missing");
    for (const Action &action : ACTIONS) {
        if (words[0] != action.name)
            continue;
        if (words.size() != action.words + 1)
            return admin_fail(ADMIN_USAGE, "group %s: wrong number of words", action.name);
        return action.run(AdminWords(words.begin() + 1, words.end()), options);
    }
    return admin_fail(ADMIN_USAGE, "group: unknown action %s", words[0].c_str());
}
