// The account database: one SQLite file per installation, opened once per
// process when first needed and shared by every module process through
// SQLite's locking (WAL journal, writers with BEGIN IMMEDIATE, a busy
// timeout). Every operation is one transaction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sqlite3.h>

#include "platform/win_types.h"

constexpr int ACCOUNT_DB_SCHEMA_VERSION = 1;
constexpr int ACCOUNT_DB_BUSY_TIMEOUT_MS = 10000;

// The file that the first operation opens when account_db_open named
// none: lodgate.db in the current directory until one is configured.
void account_db_configure(const std::string &path);

// Opens path in place of any open database, creating it (mode 0600, with
// the schema and the built-in groups) when missing. NERR_Success, or
// NERR_InternalError after an ERROR trace line; a failed path is tried again
// at the next account_db_ready.
DWORD account_db_open(const char *path);

// Makes sure a database is open: the one opened by path, else the configured
// file. Reopens after a failed open or an error that suggests a bad file.
DWORD account_db_ready();

// Closes the database and forgets its path, so that the next use opens the
// configured file again. Tests use it between cases, and a child process
// after fork before it opens its own connection.
void account_db_close();

// What the last failure met, in words for the administrator: a file that
// keeps this process out ("<file>: permission denied (owner root, this
// process runs as lodgate)"), else SQLite's message.
const std::string &account_db_last_fault();

// The file of the open database, or of the last one tried.
const std::string &account_db_path();
// The open connection, or nullptr; for tests and administration.
sqlite3 *account_db_connection();
// Counts the connections opened, so that what is remembered of one is not
// taken for another that happens to reuse its address.
std::uint64_t account_db_generation();

enum StatementId : int {
    BEGIN_READ,
    BEGIN_WRITE,
    COMMIT,
    ROLLBACK,
    SAVEPOINT,
    RELEASE_SAVEPOINT,
    ROLLBACK_TO_SAVEPOINT,
    FIND_USER,
    FIND_USER_ID,
    FIND_GROUP_ID,
    INSERT_USER,
    UPDATE_USER,
    UPDATE_PASSWORD,
    DELETE_USER_MEMBERSHIPS,
    DELETE_USER,
    LIST_USERS,
    COUNT_USERS_AFTER,
    INSERT_GROUP,
    FIND_MEMBERSHIP,
    INSERT_MEMBERSHIP,
    READ_POLICY,
    WRITE_POLICY,
    READ_ATTEMPTS,
    WRITE_ATTEMPTS,
    READ_UNKNOWN_ATTEMPTS,
    WRITE_UNKNOWN_ATTEMPTS,
    CLEAR_FAILED_LOGONS,
    UPGRADE_HASH,
    STATEMENT_COUNT
};

// The statement, prepared on first use and kept until the database closes;
// nullptr after a traced failure.
sqlite3_stmt *account_db_statement(StatementId id);

// Writes "account database FILE: ACTION: MESSAGE" at ERROR and returns
// NERR_InternalError. SQLite's result tells whether the file looks broken,
// in which case the next operation opens it anew.
DWORD account_db_failure(const char *action, int sqlite_result);

// Resets the statement (and drops its bindings) when the scope that steps it
// ends, so that no read stays open and no bound text is left dangling.
struct StatementScope {
    sqlite3_stmt *statement;

    explicit StatementScope(sqlite3_stmt *used) : statement(used) {}
    StatementScope(const StatementScope &) = delete;
    StatementScope &operator=(const StatementScope &) = delete;
    ~StatementScope();
};

// One transaction, rolled back when the record goes without db_commit.
// Inside an open change (db_begin_change) a transaction is a savepoint of it.
struct DbTransaction {
    bool active = false;
    bool nested = false;

    DbTransaction() = default;
    DbTransaction(const DbTransaction &) = delete;
    DbTransaction &operator=(const DbTransaction &) = delete;
    ~DbTransaction();
};

DWORD db_begin_read(DbTransaction &transaction);
// BEGIN IMMEDIATE: the write lock is taken (waiting up to the busy timeout)
// before anything is read, so a writer never fails on a stale snapshot.
DWORD db_begin_write(DbTransaction &transaction);
DWORD db_commit(DbTransaction &transaction);
// account_db_ready, then db_begin_write or db_begin_read: NERR_Success, or
// NERR_InternalError after the failure's trace line.
DWORD db_ready_write(DbTransaction &transaction);
DWORD db_ready_read(DbTransaction &transaction);

// Several service calls made one write transaction: a process killed before
// db_end_change leaves the file as it was before db_begin_change. Ending
// commits what the calls did, failed ones included, as separate calls would.
// Ending without keep rolls the whole change back.
DWORD db_begin_change();
DWORD db_end_change(bool keep = true);

// Binding and reading with the absent/empty difference kept: an absent text
// is NULL in the database. Bound texts must outlive the StatementScope.
void bind_text(sqlite3_stmt *statement, int index, std::string_view text);
void bind_optional_text(sqlite3_stmt *statement, int index,
                        const std::optional<std::string> &text);
std::string column_text(sqlite3_stmt *statement, int column);
std::optional<std::string> column_optional_text(sqlite3_stmt *statement, int column);

// One parameter as its type binds: a text, an absent or present text, an
// integer, an absent or present integer.
void bind_parameter(sqlite3_stmt *statement, int index, std::string_view text);
inline void bind_parameter(sqlite3_stmt *statement, int index, const std::string &text)
{
    bind_parameter(statement, index, std::string_view(text));
}
inline void bind_parameter(sqlite3_stmt *statement, int index, const char *text)
{
    bind_parameter(statement, index, std::string_view(text));
}
void bind_parameter(sqlite3_stmt *statement, int index, const std::optional<std::string> &text);
void bind_parameter(sqlite3_stmt *statement, int index, std::int64_t value);
void bind_parameter(sqlite3_stmt *statement, int index, const std::optional<std::int64_t> &value);

// The statement of id with params bound from 1 in order, reset when the
// scope ends; null after the traced failure to prepare it. Bound texts
// must outlive the scope.
struct ScopedStatement {
    sqlite3_stmt *statement;
    StatementScope scope;

    template <typename... Params>
    explicit ScopedStatement(StatementId id, const Params &...params)
        : statement(account_db_statement(id)), scope(statement)
    {
        int index = 0;
        if (statement != nullptr)
            (bind_parameter(statement, ++index, params), ...);
    }
    operator sqlite3_stmt *() const { return statement; }
};

// Steps a statement that gives at most one row: NERR_Success with the row
// to read, missing when it gives none, NERR_InternalError for a statement
// that could not be prepared, or after an ERROR line naming action.
DWORD db_step_row(sqlite3_stmt *statement, DWORD missing, const char *action);

// Runs the statement of id, which gives no rows, with params bound.
// NERR_Success, or NERR_InternalError after an ERROR line naming action.
template <typename... Params>
DWORD db_run(StatementId id, const char *action, const Params &...params)
{
    ScopedStatement statement(id, params...);
    if (statement == nullptr)
        return NERR_InternalError;
    int result = sqlite3_step(statement);
    return result == SQLITE_DONE ? NERR_Success : account_db_failure(action, result);
}
