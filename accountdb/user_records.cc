#include "accountdb/user_records.h"

#include "accountdb/account_db.h"
#include "platform/account_names.h"
#include "hashing/password_hash.h"
#include "platform/utf_text.h"

namespace {

// The columns of FIND_USER and LIST_USERS.
enum UserColumn : int {
    COLUMN_ID,
    COLUMN_NAME,
    COLUMN_PASSWORD_HASH,
    COLUMN_PASSWORD_SET,
    COLUMN_PRIV,
    COLUMN_HOME_DIR,
    COLUMN_COMMENT,
    COLUMN_FLAGS,
    COLUMN_SCRIPT_PATH,
    COLUMN_FAILED_LOGONS,
    COLUMN_LOCKED_UNTIL,
};

void read_user_row(sqlite3_stmt *statement, UserRecord &user)
{
    user.id = sqlite3_column_int64(statement, COLUMN_ID);
    user.name = column_text(statement, COLUMN_NAME);
    user.password_hash = column_text(statement, COLUMN_PASSWORD_HASH);
    user.password_set = sqlite3_column_int64(statement, COLUMN_PASSWORD_SET);
    user.priv = static_cast<DWORD>(sqlite3_column_int64(statement, COLUMN_PRIV));
    user.home_dir = column_optional_text(statement, COLUMN_HOME_DIR);
    user.comment = column_optional_text(statement, COLUMN_COMMENT);
    user.flags = static_cast<DWORD>(sqlite3_column_int64(statement, COLUMN_FLAGS));
    user.script_path = column_optional_text(statement, COLUMN_SCRIPT_PATH);
    user.failed_logons = sqlite3_column_int64(statement, COLUMN_FAILED_LOGONS);
    user.locked_until = sqlite3_column_int64(statement, COLUMN_LOCKED_UNTIL);
    user.locked = user.locked_until > account_clock();
}

// NERR_Success with the id of the row whose folded name matches, missing
// when there is none, or NERR_InternalError.
DWORD find_id(StatementId which, const std::string &folded, std::int64_t &id, DWORD missing)
{
    ScopedStatement statement(which, folded);
    DWORD status = db_step_row(statement, missing, "cannot look up a name");
    if (status == NERR_Success)
        id = sqlite3_column_int64(statement, 0);
    return status;
}

// The first column of the statement's one row, 0 when it gives none.
DWORD step_integer(sqlite3_stmt *statement, const char *action, std::int64_t &value)
{
    constexpr DWORD NO_ROW = ~DWORD{0};
    DWORD status = db_step_row(statement, NO_ROW, action);
    value = status == NERR_Success ? sqlite3_column_int64(statement, 0) : 0;
    return status == NO_ROW ? NERR_Success : status;
}

DWORD find_user_id(std::string_view name, std::int64_t &id)
{
    return find_id(FIND_USER_ID, fold_name(name), id, NERR_UserNotFound);
}

// A write transaction on the named user's row: its id, NERR_UserNotFound,
// or NERR_InternalError.
DWORD begin_user_write(std::string_view name, DbTransaction &transaction, std::int64_t &id)
{
    if (!name_is_valid(name))
        return NERR_UserNotFound;
    if (db_ready_write(transaction) != NERR_Success)
        return NERR_InternalError;
    return find_user_id(name, id);
}

}  // namespace

DWORD user_fields_fault(const UserRecord &user)
{
    return account_member_fault(user, false);
}

namespace {

// Users and groups share one namespace.
DWORD insert_one(const UserRecord &user, std::int64_t now)
{
    std::string folded = fold_name(user.name);
    std::int64_t id = 0;
    DWORD found = find_id(FIND_GROUP_ID, folded, id, NERR_GroupNotFound);
    if (found != NERR_GroupNotFound)
        return found == NERR_Success ? NERR_GroupExists : found;
    found = find_id(FIND_USER_ID, folded, id, NERR_UserNotFound);
    if (found != NERR_UserNotFound)
        return found == NERR_Success ? NERR_UserExists : found;

    return db_run(INSERT_USER, "cannot add a user", user.name, folded, user.password_hash,
                  user.password_set, user.priv, user.home_dir, user.comment, user.flags,
                  user.script_path, now);
}

DWORD update_fields(std::int64_t id, const UserRecord &values)
{
    return db_run(UPDATE_USER, "cannot change a user", id, values.priv, values.home_dir,
                  values.comment, values.flags, values.script_path);
}

DWORD update_password(std::int64_t id, const UserRecord &values)
{
    return db_run(UPDATE_PASSWORD, "cannot change a password", id, values.password_hash,
                  values.password_set);
}

DWORD delete_by_id(StatementId which, std::int64_t id)
{
    return db_run(which, "cannot delete a user", id);
}

DWORD count_users_after(std::int64_t after_id, std::int64_t &count)
{
    ScopedStatement statement(COUNT_USERS_AFTER, after_id);
    if (statement == nullptr)
        return NERR_InternalError;
    int result = sqlite3_step(statement);
    if (result != SQLITE_ROW)
        return account_db_failure("cannot count users", result);
    count = sqlite3_column_int64(statement, 0);
    return NERR_Success;
}

// What the last batch left to count, so that a long enumeration does not
// count the rest of the table again at every batch: valid while no commit
// (of any connection) has changed the file since.
struct RemainingAfter {
    std::uint64_t generation = 0;
    std::int64_t after_id = -1;
    std::int64_t count = 0;
    unsigned data_version = 0;
    sqlite3_int64 own_changes = -1;
};
RemainingAfter remaining_after;

unsigned data_version()
{
    unsigned version = 0;
    sqlite3_file_control(account_db_connection(), "main", SQLITE_FCNTL_DATA_VERSION, &version);
    return version;
}

DWORD read_batch(std::int64_t after_id, const std::function<bool(const UserRecord &)> &take,
                 UserPage &page)
{
    ScopedStatement statement(LIST_USERS, after_id);
    if (statement == nullptr)
        return NERR_InternalError;
    for (;;) {
        int result = sqlite3_step(statement);
        if (result == SQLITE_DONE)
            return NERR_Success;
        if (result != SQLITE_ROW)
            return account_db_failure("cannot list users", result);
        UserRecord user;
        read_user_row(statement, user);
        if (!take(user)) {
            page.more = true;
            return NERR_Success;
        }
        page.users.push_back(std::move(user));
    }
}

DWORD membership_exists(std::int64_t group_id, std::int64_t user_id, bool &exists)
{
    ScopedStatement statement(FIND_MEMBERSHIP, group_id, user_id);
    if (statement == nullptr)
        return NERR_InternalError;
    int result = sqlite3_step(statement);
    if (result != SQLITE_ROW && result != SQLITE_DONE)
        return account_db_failure("cannot read a membership", result);
    exists = result == SQLITE_ROW;
    return NERR_Success;
}

DWORD insert_membership(std::int64_t group_id, std::int64_t user_id)
{
    return db_run(INSERT_MEMBERSHIP, "cannot add a group member", group_id, user_id);
}

// The member's user id, or why it cannot join.
DWORD member_id(const std::string &member, std::int64_t &id)
{
    if (!name_is_valid(member))
        return ERROR_NO_SUCH_MEMBER;
    std::string folded = fold_name(member);
    DWORD found = find_id(FIND_USER_ID, folded, id, ERROR_NO_SUCH_MEMBER);
    if (found != ERROR_NO_SUCH_MEMBER)
        return found;
    std::int64_t group_id = 0;
    found = find_id(FIND_GROUP_ID, folded, group_id, ERROR_NO_SUCH_MEMBER);
    return found == NERR_Success ? ERROR_INVALID_MEMBER : found;
}

DWORD add_member(std::int64_t group_id, const std::string &member)
{
    std::int64_t user_id = 0;
    DWORD status = member_id(member, user_id);
    if (status != NERR_Success)
        return status;
    bool exists = false;
    status = membership_exists(group_id, user_id, exists);
    if (status != NERR_Success)
        return status;
    if (exists)
        return ERROR_MEMBER_IN_ALIAS;
    return insert_membership(group_id, user_id);
}


// failed_logons, last_failed_logon and locked_until of one account; absent
// times are 0.
struct AttemptRow {
    std::int64_t failed = 0;
    std::int64_t last_failed = 0;
    std::int64_t locked_until = 0;
};

// An absent time is NULL in the database.
std::optional<std::int64_t> stored_time(std::int64_t time)
{
    return time != 0 ? std::optional<std::int64_t>(time) : std::nullopt;
}

// NERR_UserNotFound when the account went meanwhile.
DWORD read_attempts(std::int64_t user_id, AttemptRow &row)
{
    ScopedStatement statement(READ_ATTEMPTS, user_id);
    DWORD status = db_step_row(statement, NERR_UserNotFound, "cannot read failed logons");
    if (status != NERR_Success)
        return status;
    row.failed = sqlite3_column_int64(statement, 0);
    row.last_failed = sqlite3_column_int64(statement, 1);
    row.locked_until = sqlite3_column_int64(statement, 2);
    return NERR_Success;
}

DWORD write_attempts(std::int64_t user_id, const AttemptRow &row)
{
    return db_run(WRITE_ATTEMPTS, "cannot count a failed logon", user_id, row.failed,
                  stored_time(row.last_failed), stored_time(row.locked_until));
}

// The row after one more attempt at now; unchanged when the attempt is
// refused.
AttemptRow next_attempts(const AttemptRow &row, const LockoutPolicy &policy, std::int64_t now,
                         LogonAttempt &attempt)
{
    if (row.locked_until > now)
        return row;
    bool lock_ended = row.locked_until != 0;
    bool in_window = row.last_failed != 0 && row.last_failed > now - policy.window;
    std::int64_t before = lock_ended || !in_window ? 0 : row.failed;
    if (before >= policy.threshold)
        return row;
    AttemptRow next;
    next.failed = before + 1;
    next.last_failed = now;
    next.locked_until = next.failed >= policy.threshold ? now + policy.duration : 0;
    attempt.admitted = true;
    attempt.counted = true;
    return next;
}

// Wraps long before SQLite's integers would.
constexpr std::int64_t UNKNOWN_ATTEMPTS_WRAP = 1000000000;

// Attempts that change no account's row (names without one, refused
// attempts) are counted on a row of their own: SQLite writes no page whose
// bytes stay the same, and a commit that writes none does not sync, so
// without it they would answer a sync sooner than a wrong password.
DWORD count_rowless_attempt()
{
    std::int64_t count = 0;
    {
        ScopedStatement statement(READ_UNKNOWN_ATTEMPTS);
        DWORD status = step_integer(statement, "cannot read failed logons", count);
        if (status != NERR_Success)
            return status;
    }
    return db_run(WRITE_UNKNOWN_ATTEMPTS, "cannot count a failed logon",
                  (count + 1) % UNKNOWN_ATTEMPTS_WRAP);
}

DWORD count_account_attempt(std::int64_t user_id, const LockoutPolicy &policy, std::int64_t now,
                            LogonAttempt &attempt)
{
    AttemptRow row;
    DWORD status = read_attempts(user_id, row);
    if (status == NERR_UserNotFound)
        return count_rowless_attempt();  // refused: the account is gone
    if (status != NERR_Success)
        return status;
    AttemptRow next = next_attempts(row, policy, now, attempt);
    bool changes = next.failed != row.failed || next.last_failed != row.last_failed ||
                   next.locked_until != row.locked_until;
    return changes ? write_attempts(user_id, next) : count_rowless_attempt();
}

DWORD count_unknown_name_attempt(LogonAttempt &attempt)
{
    DWORD status = count_rowless_attempt();
    attempt.admitted = status == NERR_Success;
    return status;
}

}  // namespace

DWORD db_read_lockout_policy(LockoutPolicy &policy)
{
    policy = LockoutPolicy{};
    if (db_read_policy(POLICY_LOCKOUT_THRESHOLD, policy.threshold) != NERR_Success ||
        db_read_policy(POLICY_LOCKOUT_WINDOW, policy.window) != NERR_Success ||
        db_read_policy(POLICY_LOCKOUT_DURATION, policy.duration) != NERR_Success)
        return NERR_InternalError;
    return NERR_Success;
}

DWORD db_count_logon_attempt(std::int64_t user_id, const LockoutPolicy &policy, std::int64_t now,
                          LogonAttempt &attempt)
{
    attempt = LogonAttempt{};
    DbTransaction transaction;
    if (db_ready_write(transaction) != NERR_Success)
        return NERR_InternalError;
    DWORD status = user_id == 0 ? count_unknown_name_attempt(attempt)
                                : count_account_attempt(user_id, policy, now, attempt);
    if (status != NERR_Success)
        return status;
    return db_commit(transaction);
}

DWORD db_upgrade_password_hash(std::int64_t user_id, const std::string &old_hash,
                            const std::string &new_hash)
{
    if (account_db_ready() != NERR_Success)
        return NERR_InternalError;
    return db_run(UPGRADE_HASH, "cannot upgrade a password hash", user_id, new_hash, old_hash);
}

DWORD db_clear_failed_logons(std::int64_t user_id)
{
    if (account_db_ready() != NERR_Success)
        return NERR_InternalError;
    return db_run(CLEAR_FAILED_LOGONS, "cannot clear failed logons", user_id);
}

DWORD user_record_fault(const UserRecord &user)
{
    if (!name_is_addressable(user.name))
        return MEMBER_NAME;
    if (!hash_cost_is_bounded(user.password_hash.c_str()))
        return MEMBER_PASSWORD;
    return user_fields_fault(user);
}

DWORD db_find_user(std::string_view name, UserRecord &user)
{
    if (!name_is_valid(name))
        return NERR_UserNotFound;
    if (account_db_ready() != NERR_Success)
        return NERR_InternalError;
    std::string folded = fold_name(name);
    ScopedStatement statement(FIND_USER, folded);
    DWORD status = db_step_row(statement, NERR_UserNotFound, "cannot read a user");
    if (status == NERR_Success)
        read_user_row(statement, user);
    return status;
}

DWORD db_insert_users(const UserRecord *users, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        if (user_record_fault(users[i]) != 0)
            return ERROR_INVALID_PARAMETER;
    DbTransaction transaction;
    if (db_ready_write(transaction) != NERR_Success)
        return NERR_InternalError;
    std::int64_t now = account_clock();
    for (std::size_t i = 0; i < count; ++i) {
        DWORD status = insert_one(users[i], now);
        if (status != NERR_Success)
            return status;
    }
    return db_commit(transaction);
}

DWORD db_insert_user(const UserRecord &user)
{
    return db_insert_users(&user, 1);
}

DWORD db_update_user(std::string_view name, const UserRecord &values, bool new_password)
{
    if (user_fields_fault(values) != 0)
        return ERROR_INVALID_PARAMETER;
    DbTransaction transaction;
    std::int64_t id = 0;
    DWORD status = begin_user_write(name, transaction, id);
    if (status == NERR_Success)
        status = update_fields(id, values);
    if (status == NERR_Success && new_password)
        status = update_password(id, values);
    if (status != NERR_Success)
        return status;
    return db_commit(transaction);
}

DWORD db_delete_user(std::string_view name)
{
    DbTransaction transaction;
    std::int64_t id = 0;
    DWORD status = begin_user_write(name, transaction, id);
    if (status == NERR_Success)
        status = delete_by_id(DELETE_USER_MEMBERSHIPS, id);
    if (status == NERR_Success)
        status = delete_by_id(DELETE_USER, id);
    if (status != NERR_Success)
        return status;
    return db_commit(transaction);
}

DWORD db_list_users(std::int64_t after_id, const std::function<bool(const UserRecord &)> &take,
                 UserPage &page)
{
    page = UserPage{};
    DbTransaction transaction;
    if (db_ready_read(transaction) != NERR_Success)
        return NERR_InternalError;
    // The batch first: its read fixes the snapshot whose version is compared.
    DWORD status = read_batch(after_id, take, page);
    if (status != NERR_Success)
        return status;
    unsigned version = data_version();
    sqlite3_int64 own_changes = sqlite3_total_changes64(account_db_connection());
    const RemainingAfter &known = remaining_after;
    if (known.generation == account_db_generation() && known.after_id == after_id &&
        known.data_version == version && known.own_changes == own_changes)
        page.remaining = known.count;
    else if ((status = count_users_after(after_id, page.remaining)) != NERR_Success)
        return status;
    remaining_after = RemainingAfter{};
    if (page.more && !page.users.empty())
        remaining_after = {account_db_generation(), page.users.back().id,
                           page.remaining - static_cast<std::int64_t>(page.users.size()), version,
                           own_changes};
    return db_commit(transaction);
}

DWORD db_add_group_members(std::string_view group, const std::vector<std::string> &members)
{
    if (!name_is_valid(group))
        return NERR_GroupNotFound;
    DbTransaction transaction;
    if (db_ready_write(transaction) != NERR_Success)
        return NERR_InternalError;
    std::int64_t group_id = 0;
    DWORD status = find_id(FIND_GROUP_ID, fold_name(group), group_id, NERR_GroupNotFound);
    for (std::size_t i = 0; status == NERR_Success && i < members.size(); ++i)
        status = add_member(group_id, members[i]);
    if (status != NERR_Success)
        return status;
    return db_commit(transaction);
}

DWORD db_read_policy(const char *name, std::int64_t &value)
{
    if (account_db_ready() != NERR_Success)
        return NERR_InternalError;
    ScopedStatement statement(READ_POLICY, name);
    return step_integer(statement, "cannot read the policy", value);
}

DWORD db_write_policy(const char *name, std::int64_t value)
{
    DbTransaction transaction;
    if (db_ready_write(transaction) != NERR_Success)
        return NERR_InternalError;
    if (db_run(WRITE_POLICY, "cannot write the policy", name, value) != NERR_Success)
        return NERR_InternalError;
    return db_commit(transaction);
}
