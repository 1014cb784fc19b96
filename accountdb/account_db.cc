#include "accountdb/account_db.h"

#include <array>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "accountdb/database_files.h"
#include "platform/account_backend.h"
#include "platform/account_names.h"
#include "log/trace_log.h"

namespace {

// Ids are AUTOINCREMENT so that they follow creation order and are never
// reused: the enumeration's resume handle is the last id it returned.
// failed_logons, last_failed_logon and locked_until are kept for the lockout
// policy, whose numbers live in the policy table with the other settings.
constexpr const char *SCHEMA_STATEMENTS[] = {
    "CREATE TABLE user_accounts ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL UNIQUE,"
    " password_hash TEXT NOT NULL,"
    " password_set INTEGER NOT NULL,"
    " priv INTEGER NOT NULL,"
    " home_dir TEXT,"
    " comment TEXT,"
    " flags INTEGER NOT NULL,"
    " script_path TEXT,"
    " failed_logons INTEGER NOT NULL DEFAULT 0,"
    " last_failed_logon INTEGER,"
    " locked_until INTEGER,"
    " created INTEGER NOT NULL)",
    "CREATE TABLE local_groups ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL UNIQUE,"
    " comment TEXT,"
    " builtin INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE group_members ("
    " group_id INTEGER NOT NULL REFERENCES local_groups(id),"
    " user_id INTEGER NOT NULL REFERENCES user_accounts(id),"
    " PRIMARY KEY (group_id, user_id)) WITHOUT ROWID",
    "CREATE INDEX group_members_by_user ON group_members(user_id)",
    "CREATE TABLE policy (name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID",
    "INSERT INTO policy(name, value) VALUES"
    " ('min_password_length', 0), ('lockout_threshold', 0),"
    " ('lockout_window_seconds', 1800), ('lockout_duration_seconds', 1800)",
};

struct BuiltinGroup {
    const char *name;
    const char *comment;
};

constexpr BuiltinGroup BUILTIN_GROUPS[] = {
    {"Administrators",
     "Administrators have complete and unrestricted access to the computer"},
    {"Users", "Users are prevented from making accidental or intentional system-wide changes"},
    {"Guests", "Guests have the same access as members of the Users group by default"},
};

// Applied to every connection: durability of each "+OK" (a commit is on disk
// before it returns) and the membership references.
constexpr const char *CONNECTION_STATEMENTS[] = {
    "PRAGMA journal_mode=WAL",
    "PRAGMA synchronous=FULL",
    "PRAGMA foreign_keys=ON",
    // 512 KiB holds every interior page of 100,000 accounts; the default 2 MB
    // would only let a full enumeration grow the process by the difference.
    "PRAGMA cache_size=-512",
    // With the -wal file kept between processes (see open_connection), any
    // limit makes the last clean close cut it to nothing, so a stale log is
    // never replayed into a main file restored from a backup. 4 MiB is about
    // the size at which a checkpoint restarts the log anyway.
    "PRAGMA journal_size_limit=4194304",
};

struct StatementText {
    StatementId id;
    const char *sql;
};

constexpr StatementText STATEMENT_TEXTS[] = {
    {BEGIN_READ, "BEGIN"},
    {BEGIN_WRITE, "BEGIN IMMEDIATE"},
    {COMMIT, "COMMIT"},
    {ROLLBACK, "ROLLBACK"},
    {SAVEPOINT, "SAVEPOINT nested"},
    {RELEASE_SAVEPOINT, "RELEASE nested"},
    {ROLLBACK_TO_SAVEPOINT, "ROLLBACK TO nested"},
    {FIND_USER,
     "SELECT id, name, password_hash, password_set, priv, home_dir, comment, flags,"
     " script_path, failed_logons, locked_until FROM user_accounts WHERE folded = ?1"},
    {FIND_USER_ID, "SELECT id FROM user_accounts WHERE folded = ?1"},
    {FIND_GROUP_ID, "SELECT id FROM local_groups WHERE folded = ?1"},
    {INSERT_USER,
     "INSERT INTO user_accounts(name, folded, password_hash, password_set, priv, home_dir,"
     " comment, flags, script_path, created) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"},
    {UPDATE_USER,
     "UPDATE user_accounts SET priv = ?2, home_dir = ?3, comment = ?4, flags = ?5,"
     " script_path = ?6 WHERE id = ?1"},
    {UPDATE_PASSWORD,
     "UPDATE user_accounts SET password_hash = ?2, password_set = ?3, failed_logons = 0,"
     " last_failed_logon = NULL, locked_until = NULL WHERE id = ?1"},
    {DELETE_USER_MEMBERSHIPS, "DELETE FROM group_members WHERE user_id = ?1"},
    {DELETE_USER, "DELETE FROM user_accounts WHERE id = ?1"},
    {LIST_USERS,
     "SELECT id, name, password_hash, password_set, priv, home_dir, comment, flags,"
     " script_path, failed_logons, locked_until FROM user_accounts WHERE id > ?1 ORDER BY id"},
    {COUNT_USERS_AFTER, "SELECT count(*) FROM user_accounts WHERE id > ?1"},
    {INSERT_GROUP,
     "INSERT INTO local_groups(name, folded, comment, builtin) VALUES (?1, ?2, ?3, ?4)"},
    {FIND_MEMBERSHIP, "SELECT 1 FROM group_members WHERE group_id = ?1 AND user_id = ?2"},
    {INSERT_MEMBERSHIP, "INSERT INTO group_members(group_id, user_id) VALUES (?1, ?2)"},
    {READ_POLICY, "SELECT value FROM policy WHERE name = ?1"},
    {WRITE_POLICY,
     "INSERT INTO policy(name, value) VALUES (?1, ?2)"
     " ON CONFLICT(name) DO UPDATE SET value = excluded.value"},
    {READ_ATTEMPTS,
     "SELECT failed_logons, last_failed_logon, locked_until FROM user_accounts WHERE id = ?1"},
    {WRITE_ATTEMPTS,
     "UPDATE user_accounts SET failed_logons = ?2, last_failed_logon = ?3, locked_until = ?4"
     " WHERE id = ?1"},
    // Attempts at names that have no account are counted on a row of their
    // own, so that they cost the write that an account's attempt costs.
    {READ_UNKNOWN_ATTEMPTS, "SELECT value FROM policy WHERE name = 'unknown_name_attempts'"},
    {WRITE_UNKNOWN_ATTEMPTS,
     "INSERT INTO policy(name, value) VALUES ('unknown_name_attempts', ?1)"
     " ON CONFLICT(name) DO UPDATE SET value = excluded.value"},
    {CLEAR_FAILED_LOGONS,
     "UPDATE user_accounts SET failed_logons = 0, last_failed_logon = NULL,"
     " locked_until = NULL WHERE id = ?1"},
    // Only over the hash that was verified, so a password changed meanwhile
    // stays; the password's age is unchanged.
    {UPGRADE_HASH,
     "UPDATE user_accounts SET password_hash = ?2 WHERE id = ?1 AND password_hash = ?3"},
};

constexpr bool statement_texts_in_order()
{
    int expected = 0;
    for (const StatementText &text : STATEMENT_TEXTS)
        if (text.id != expected++)
            return false;
    return expected == STATEMENT_COUNT;
}
static_assert(statement_texts_in_order(), "STATEMENT_TEXTS follows StatementId");

struct ConnectionCloser {
    void operator()(sqlite3 *connection) const { sqlite3_close_v2(connection); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};

struct AccountDb {
    std::string path;
    bool path_given = false;  // opened by path rather than by the settings
    bool broken = false;      // reopen before the next operation
    // Declared before the statements, so that they are finalized first.
    std::unique_ptr<sqlite3, ConnectionCloser> connection;
    std::array<std::unique_ptr<sqlite3_stmt, StatementFinalizer>, STATEMENT_COUNT> statements;
};

AccountDb db;
std::uint64_t connection_generation = 0;

void close_connection()
{
    for (auto &statement : db.statements)
        statement.reset();
    db.connection.reset();
    db.broken = false;
}

const char *connection_message()
{
    return db.connection ? sqlite3_errmsg(db.connection.get()) : "out of memory";
}

// What the last failure met, for a caller that tells the administrator.
std::string last_fault;

DWORD trace_failure(const char *action, const char *message)
{
    log_error("account database %s: %s: %s", db.path.c_str(), action, message);
    last_fault = database_permission_fault(db.path);
    if (!last_fault.empty())
        log_error("%s", last_fault.c_str());
    else
        last_fault = "account database " + db.path + ": " + action + ": " + message;
    return NERR_InternalError;
}

// SQLite makes the -wal and -shm files with the main file's mode, so the
// main file alone is created here, whatever the umask.
DWORD create_private_file(const std::string &path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST)
            return NERR_Success;
        return trace_failure("cannot create", std::strerror(errno));
    }
    int mode_result = ::fchmod(fd, 0600);
    int mode_error = errno;
    ::close(fd);
    if (mode_result != 0)
        return trace_failure("cannot set mode", std::strerror(mode_error));
    return NERR_Success;
}

DWORD execute(const char *sql, const char *action)
{
    int result = sqlite3_exec(db.connection.get(), sql, nullptr, nullptr, nullptr);
    if (result != SQLITE_OK)
        return account_db_failure(action, result);
    return NERR_Success;
}

// Two processes switching a new file to WAL at once would deadlock, so
// SQLite answers one of them SQLITE_BUSY at once instead of waiting in the
// busy handler; that one tries again within the busy timeout.
DWORD execute_when_free(const char *sql, const char *action)
{
    constexpr auto PAUSE = std::chrono::milliseconds(5);
    auto give_up = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(ACCOUNT_DB_BUSY_TIMEOUT_MS);
    for (;;) {
        int result = sqlite3_exec(db.connection.get(), sql, nullptr, nullptr, nullptr);
        if (result == SQLITE_OK)
            return NERR_Success;
        if ((result & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= give_up)
            return account_db_failure(action, result);
        std::this_thread::sleep_for(PAUSE);
    }
}

DWORD read_schema_version(int &version)
{
    sqlite3_stmt *raw = nullptr;
    int result = sqlite3_prepare_v2(db.connection.get(), "PRAGMA user_version", -1, &raw, nullptr);
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(raw);
    if (result == SQLITE_OK)
        result = sqlite3_step(raw);
    if (result != SQLITE_ROW)
        return account_db_failure("reading the schema version", result);
    version = sqlite3_column_int(raw, 0);
    return NERR_Success;
}

DWORD insert_builtin_groups()
{
    for (const BuiltinGroup &group : BUILTIN_GROUPS) {
        std::string folded = fold_name(group.name);
        sqlite3_stmt *statement = account_db_statement(INSERT_GROUP);
        if (statement == nullptr)
            return NERR_InternalError;
        StatementScope scope(statement);
        bind_text(statement, 1, group.name);
        bind_text(statement, 2, folded);
        bind_text(statement, 3, group.comment);
        sqlite3_bind_int(statement, 4, 1);
        int result = sqlite3_step(statement);
        if (result != SQLITE_DONE)
            return account_db_failure("creating the built-in groups", result);
    }
    return NERR_Success;
}

DWORD create_schema()
{
    for (const char *sql : SCHEMA_STATEMENTS)
        if (execute(sql, "creating the schema") != NERR_Success)
            return NERR_InternalError;
    if (insert_builtin_groups() != NERR_Success)
        return NERR_InternalError;
    std::string version = "PRAGMA user_version=" + std::to_string(ACCOUNT_DB_SCHEMA_VERSION);
    return execute(version.c_str(), "setting the schema version");
}

// The schema is made under the write lock, so that of several processes
// opening a new file only the first creates it.
DWORD ensure_schema()
{
    int version = 0;
    if (read_schema_version(version) != NERR_Success)
        return NERR_InternalError;
    if (version == ACCOUNT_DB_SCHEMA_VERSION)
        return NERR_Success;
    if (version > ACCOUNT_DB_SCHEMA_VERSION)
        return trace_failure("schema", "written by a newer version of Lodgate");
    DbTransaction transaction;
    if (db_begin_write(transaction) != NERR_Success ||
        read_schema_version(version) != NERR_Success)
        return NERR_InternalError;
    if (version == 0 && create_schema() != NERR_Success)
        return NERR_InternalError;
    return db_commit(transaction);
}

// The module is one thread: SQLite's mutexes and its memory statistics
// (a mutex around every allocation) only cost time on every statement.
// Without the page cache's first block, which SQLite writes through
// whole (20 pages, about 86 KiB), a module started for one lookup touches
// only the pages it reads: a dozen fewer page faults.
// sqlite3_config refuses once SQLite is initialized, which is harmless.
void configure_sqlite_once()
{
    static bool configured = false;
    if (configured)
        return;
    configured = true;
    sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
}

DWORD open_connection()
{
    configure_sqlite_once();
    if (create_private_file(db.path) != NERR_Success)
        return NERR_InternalError;
    adopt_directory_owner(db.path);
    sqlite3 *raw = nullptr;
    int result = sqlite3_open_v2(db.path.c_str(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    db.connection.reset(raw);
    ++connection_generation;
    if (result != SQLITE_OK)
        return account_db_failure("cannot open", result);
    sqlite3_busy_timeout(raw, ACCOUNT_DB_BUSY_TIMEOUT_MS);
    // A module started for each login would otherwise create and unlink the
    // -wal and -shm files every time.
    int persist = 1;
    sqlite3_file_control(raw, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    for (const char *sql : CONNECTION_STATEMENTS)
        if (execute_when_free(sql, "cannot open") != NERR_Success)
            return NERR_InternalError;
    return ensure_schema();
}

DWORD open_at(const std::string &path)
{
    close_connection();
    db.path = path;
    if (open_connection() == NERR_Success)
        return NERR_Success;
    close_connection();
    return NERR_InternalError;
}

bool means_bad_file(int sqlite_result)
{
    switch (sqlite_result & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
        return true;
    default:
        return false;
    }
}

DWORD run_transaction_statement(StatementId id, const char *action)
{
    sqlite3_stmt *statement = account_db_statement(id);
    if (statement == nullptr)
        return NERR_InternalError;
    StatementScope scope(statement);
    int result = sqlite3_step(statement);
    if (result != SQLITE_DONE)
        return account_db_failure(action, result);
    return NERR_Success;
}

bool in_transaction()
{
    return db.connection && sqlite3_get_autocommit(db.connection.get()) == 0;
}

DWORD begin(DbTransaction &transaction, StatementId id)
{
    bool nested = in_transaction();
    if (run_transaction_statement(nested ? SAVEPOINT : id, "cannot begin a transaction") !=
        NERR_Success)
        return NERR_InternalError;
    transaction.active = true;
    transaction.nested = nested;
    return NERR_Success;
}

// The file that account_db_ready opens unless a path was given.
std::string configured_path = ACCOUNT_DB_FILE_NAME;

// The change that db_begin_change opened, if any.
std::optional<DbTransaction> change;

}  // namespace

void account_db_configure(const std::string &path)
{
    if (!db.path_given && db.path != path)
        close_connection();
    configured_path = path.empty() ? ACCOUNT_DB_FILE_NAME : path;
}

DWORD account_db_open(const char *path)
{
    db.path_given = true;
    return open_at(path != nullptr ? path : "");
}

DWORD account_db_ready()
{
    if (db.connection && !db.broken)
        return NERR_Success;
    return open_at(db.path_given ? db.path : configured_path);
}

void account_db_close()
{
    close_connection();
    db.path.clear();
    db.path_given = false;
}

const std::string &account_db_last_fault()
{
    return last_fault;
}

const std::string &account_db_path()
{
    return db.path;
}

std::uint64_t account_db_generation()
{
    return connection_generation;
}

sqlite3 *account_db_connection()
{
    return db.connection.get();
}

sqlite3_stmt *account_db_statement(StatementId id)
{
    auto &slot = db.statements[id];
    if (slot)
        return slot.get();
    if (!db.connection)
        return nullptr;
    sqlite3_stmt *raw = nullptr;
    int result = sqlite3_prepare_v3(db.connection.get(), STATEMENT_TEXTS[id].sql, -1,
                                    SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    slot.reset(raw);
    if (result != SQLITE_OK) {
        slot.reset();
        account_db_failure("cannot prepare a statement", result);
        return nullptr;
    }
    return raw;
}

DWORD account_db_failure(const char *action, int sqlite_result)
{
    if (means_bad_file(sqlite_result))
        db.broken = true;
    return trace_failure(action, connection_message());
}

StatementScope::~StatementScope()
{
    if (statement == nullptr)
        return;
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
}

DbTransaction::~DbTransaction()
{
    // SQLite may have rolled back already, after a full disk for one.
    if (!active || !in_transaction())
        return;
    if (!nested) {
        run_transaction_statement(ROLLBACK, "cannot roll back");
        return;
    }
    // Undone, and taken off the stack of savepoints.
    run_transaction_statement(ROLLBACK_TO_SAVEPOINT, "cannot roll back");
    run_transaction_statement(RELEASE_SAVEPOINT, "cannot roll back");
}

DWORD db_begin_read(DbTransaction &transaction)
{
    return begin(transaction, BEGIN_READ);
}

DWORD db_begin_write(DbTransaction &transaction)
{
    return begin(transaction, BEGIN_WRITE);
}

DWORD db_step_row(sqlite3_stmt *statement, DWORD missing, const char *action)
{
    if (statement == nullptr)
        return NERR_InternalError;
    int result = sqlite3_step(statement);
    if (result == SQLITE_ROW)
        return NERR_Success;
    return result == SQLITE_DONE ? missing : account_db_failure(action, result);
}

DWORD db_ready_write(DbTransaction &transaction)
{
    if (account_db_ready() != NERR_Success)
        return NERR_InternalError;
    return db_begin_write(transaction);
}

DWORD db_ready_read(DbTransaction &transaction)
{
    if (account_db_ready() != NERR_Success)
        return NERR_InternalError;
    return db_begin_read(transaction);
}

DWORD db_commit(DbTransaction &transaction)
{
    StatementId id = transaction.nested ? RELEASE_SAVEPOINT : COMMIT;
    if (run_transaction_statement(id, "cannot commit") != NERR_Success)
        return NERR_InternalError;
    transaction.active = false;
    return NERR_Success;
}

DWORD db_begin_change()
{
    if (change)
        return NERR_InternalError;
    DWORD status = account_db_ready();
    if (status != NERR_Success)
        return status;
    change.emplace();
    status = db_begin_write(*change);
    if (status != NERR_Success)
        change.reset();
    return status;
}

DWORD db_end_change(bool keep)
{
    if (!change)
        return NERR_Success;
    if (!keep) {
        change.reset();
        return NERR_Success;
    }
    // A connection reopened meanwhile lost the change with the old one.
    DWORD status = in_transaction() ? db_commit(*change) : NERR_InternalError;
    change.reset();  // rolls back what a failed commit left open
    return status;
}

void bind_text(sqlite3_stmt *statement, int index, std::string_view text)
{
    // A null pointer would bind NULL, which is the absent text.
    const char *data = text.data() != nullptr ? text.data() : "";
    sqlite3_bind_text(statement, index, data, static_cast<int>(text.size()), SQLITE_STATIC);
}

void bind_optional_text(sqlite3_stmt *statement, int index, const std::optional<std::string> &text)
{
    if (text)
        bind_text(statement, index, *text);
    else
        sqlite3_bind_null(statement, index);
}

void bind_parameter(sqlite3_stmt *statement, int index, std::string_view text)
{
    bind_text(statement, index, text);
}

void bind_parameter(sqlite3_stmt *statement, int index, const std::optional<std::string> &text)
{
    bind_optional_text(statement, index, text);
}

void bind_parameter(sqlite3_stmt *statement, int index, std::int64_t value)
{
    sqlite3_bind_int64(statement, index, value);
}

void bind_parameter(sqlite3_stmt *statement, int index, const std::optional<std::int64_t> &value)
{
    if (value)
        sqlite3_bind_int64(statement, index, *value);
    else
        sqlite3_bind_null(statement, index);
}

std::string column_text(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    if (text == nullptr)
        return {};
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

std::optional<std::string> column_optional_text(sqlite3_stmt *statement, int column)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return std::nullopt;
    return column_text(statement, column);
}
