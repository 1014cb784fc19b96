// Floors of the account database: SQLite alone on the same file, and the
// account work a store cannot skip (a row read and a verify, a new hash and
// its rows written). Prints one number, in microseconds, or one line.
//   floor_sqlite lookup DB ACCOUNTS COUNT [mean]
//                                            median prepared point lookup by
//                                            folded name, every column read;
//                                            with "mean" the whole loop's time
//                                            over COUNT, as a rate is timed;
//                                            with COUNT 1, timed as a process,
//                                            the floor of one lookup's process
//   floor_sqlite serve DB [default-cache]    answers each "lookup NAME" line of
//                                            standard input with the row's
//                                            name and home in one flushed line;
//                                            prints nothing else. Its page
//                                            cache is the module's 512 KiB, or
//                                            SQLite's default 2 MB
//   floor_sqlite scan DB                     one full scan in creation order
//   floor_sqlite commit DB COUNT             median one-row write transaction,
//                                            WAL and synchronous=FULL
//   floor_sqlite find DB NAME                opens the file and reads NAME's
//                                            row once: "+OK NAME home=..."
//   floor_sqlite check DB NAME PASSWORD      the same, then verifies the
//                                            password once against the row's
//                                            hash: "+OK NAME" or "-ERR NAME"
//   floor_sqlite set DB PREFIX COUNT         COUNT times a new hash and its
//                                            account row and Guests membership
//                                            written in one transaction;
//                                            the mean microseconds of one
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <crypt.h>
#include <sqlite3.h>

namespace {

using clock_type = std::chrono::steady_clock;

constexpr const char USER_COLUMNS[] =
    "id, name, password_hash, password_set, priv, home_dir, comment, flags,"
    " script_path, failed_logons, locked_until";

double since_us(clock_type::time_point start)
{
    return std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The bench accounts are user000001 to userNNNNNN; the key is upper case.
std::string folded_name(int n)
{
    char text[32];
    std::snprintf(text, sizeof text, "USER%06d", n);
    return text;
}

// The same spread over the table as the driver's lookups.
int scattered(int i, int accounts)
{
    return 1 + static_cast<int>((static_cast<unsigned>(i) * 2654435761U) %
                                static_cast<unsigned>(accounts));
}

// Touches every column as a reader of the row must.
std::size_t read_row(sqlite3_stmt *statement)
{
    std::size_t bytes = 0;
    int columns = sqlite3_column_count(statement);
    for (int c = 0; c < columns; ++c) {
        if (sqlite3_column_type(statement, c) == SQLITE_TEXT) {
            sqlite3_column_text(statement, c);
            bytes += static_cast<std::size_t>(sqlite3_column_bytes(statement, c));
        } else {
            bytes += static_cast<std::size_t>(sqlite3_column_int64(statement, c) & 1);
        }
    }
    return bytes;
}

[[noreturn]] void fail(sqlite3 *db, const char *what)
{
    std::fprintf(stderr, "floor_sqlite: %s: %s\n", what, db ? sqlite3_errmsg(db) : "no memory");
    std::exit(1);
}

sqlite3 *open_database(const char *path, int flags)
{
    // One thread, as the module is: no mutexes, no memory statistics, no
    // page cache block written through whole.
    sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path, &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        fail(db, path);
    // As the module waits (ACCOUNT_DB_BUSY_TIMEOUT_MS): a process of the
    // block before may still hold the file while it closes.
    sqlite3_busy_timeout(db, 10000);
    // As the module does: the -wal and -shm files stay between processes, so
    // that neither the floors nor the module make them afresh for the other.
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    if (sqlite3_exec(db, "PRAGMA journal_size_limit=4194304", nullptr, nullptr, nullptr) !=
        SQLITE_OK)
        fail(db, path);
    return db;
}

sqlite3_stmt *prepare(sqlite3 *db, const std::string &sql)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement,
                           nullptr) != SQLITE_OK)
        fail(db, sql.c_str());
    return statement;
}

double lookups(const char *path, int accounts, int count, bool mean)
{
    sqlite3 *db = open_database(path, SQLITE_OPEN_READWRITE);
    sqlite3_stmt *find = prepare(db, std::string("SELECT ") + USER_COLUMNS +
                                         " FROM user_accounts WHERE folded = ?1");
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i)
        keys.push_back(folded_name(scattered(i, accounts)));
    std::vector<double> times;
    auto whole = clock_type::now();
    for (const std::string &key : keys) {
        auto start = clock_type::now();
        sqlite3_bind_text(find, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        if (sqlite3_step(find) != SQLITE_ROW || read_row(find) == 0)
            fail(db, key.c_str());
        sqlite3_reset(find);
        times.push_back(since_us(start));
    }
    double total = since_us(whole);
    sqlite3_finalize(find);
    sqlite3_close(db);
    return mean ? total / count : median(times);
}

// The two floors of a pipelined lookup measured as one program: a reply
// flushed every lookup's time apart wakes the reader each time, where the
// pipe floor's quick replies are read in batches.
int serve(const char *path, bool default_cache)
{
    sqlite3 *db = open_database(path, SQLITE_OPEN_READWRITE);
    // The module bounds its cache so that a long-lived pipe stays small; on
    // 100k accounts that costs a fifth more page reads than the default.
    if (!default_cache &&
        sqlite3_exec(db, "PRAGMA cache_size=-512", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db, path);
    sqlite3_stmt *find = prepare(db, std::string("SELECT ") + USER_COLUMNS +
                                         " FROM user_accounts WHERE folded = ?1");
    char line[512];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        std::string key(line + (std::strncmp(line, "lookup ", 7) == 0 ? 7 : 0));
        while (!key.empty() && (key.back() == '\n' || key.back() == '\r'))
            key.pop_back();
        for (char &c : key)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
        sqlite3_bind_text(find, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        if (sqlite3_step(find) == SQLITE_ROW && read_row(find) > 0)
            std::printf("+OK %s home=\"%s\"\n", sqlite3_column_text(find, 1),
                        sqlite3_column_text(find, 5));
        else
            std::printf("-ERR %s\n", key.c_str());
        std::fflush(stdout);
        sqlite3_reset(find);
    }
    sqlite3_finalize(find);
    sqlite3_close(db);
    return 0;
}

double scan(const char *path)
{
    sqlite3 *db = open_database(path, SQLITE_OPEN_READWRITE);
    sqlite3_stmt *all =
        prepare(db, std::string("SELECT ") + USER_COLUMNS + " FROM user_accounts ORDER BY id");
    auto start = clock_type::now();
    std::size_t rows = 0;
    while (sqlite3_step(all) == SQLITE_ROW) {
        read_row(all);
        ++rows;
    }
    double elapsed = since_us(start);
    if (rows == 0)
        fail(db, "no rows");
    sqlite3_finalize(all);
    sqlite3_close(db);
    return elapsed;
}

double commits(const char *path, int count)
{
    sqlite3 *db = open_database(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (sqlite3_exec(db,
                     "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                     " CREATE TABLE IF NOT EXISTS rows (id INTEGER PRIMARY KEY AUTOINCREMENT,"
                     " folded TEXT NOT NULL UNIQUE, payload TEXT)",
                     nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db, "set-up");
    sqlite3_stmt *begin = prepare(db, "BEGIN IMMEDIATE");
    sqlite3_stmt *insert = prepare(db, "INSERT INTO rows(folded, payload) VALUES (?1, ?2)");
    sqlite3_stmt *commit = prepare(db, "COMMIT");
    const std::string payload(160, 'x');
    const std::string base = std::to_string(clock_type::now().time_since_epoch().count());
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        std::string key = "ROW" + base + "_" + std::to_string(i);
        auto start = clock_type::now();
        int begun = sqlite3_step(begin);
        sqlite3_reset(begin);
        sqlite3_bind_text(insert, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, payload.data(), static_cast<int>(payload.size()),
                          SQLITE_STATIC);
        int inserted = sqlite3_step(insert);
        sqlite3_reset(insert);
        int committed = sqlite3_step(commit);
        sqlite3_reset(commit);
        times.push_back(since_us(start));
        if (begun != SQLITE_DONE || inserted != SQLITE_DONE || committed != SQLITE_DONE)
            fail(db, "commit");
    }
    sqlite3_finalize(begin);
    sqlite3_finalize(insert);
    sqlite3_finalize(commit);
    sqlite3_close(db);
    return median(times);
}

// As the module folds a name: the bench's names are ASCII.
std::string folded(const char *name)
{
    std::string key(name);
    for (char &c : key)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
    return key;
}

// Opens the file and reads one account's row, as a module started for one
// command must; 0 with the statement on its row, or 1 with no such row.
int find_row(const char *path, const char *name, sqlite3 *&db, sqlite3_stmt *&find)
{
    db = open_database(path, SQLITE_OPEN_READWRITE);
    find = prepare(db, std::string("SELECT ") + USER_COLUMNS +
                           " FROM user_accounts WHERE folded = ?1");
    std::string key = folded(name);
    sqlite3_bind_text(find, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    return sqlite3_step(find) == SQLITE_ROW && read_row(find) > 0 ? 0 : 1;
}

crypt_data crypt_area;

int find_once(const char *path, const char *name, const char *password)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *find = nullptr;
    bool found = find_row(path, name, db, find) == 0;
    bool right = found;
    if (found && password != nullptr) {
        const char *stored = reinterpret_cast<const char *>(sqlite3_column_text(find, 2));
        const char *out = crypt_rn(password, stored, &crypt_area, sizeof crypt_area);
        right = out != nullptr && std::strcmp(out, stored) == 0;
    }
    if (right && password == nullptr)
        std::printf("+OK %s home=\"%s\"\n", sqlite3_column_text(find, 1),
                    sqlite3_column_text(find, 5));
    else
        std::printf("%s %s\n", right ? "+OK" : "-ERR", name);
    sqlite3_finalize(find);
    sqlite3_close(db);
    return 0;
}

// What a set of a new account stores: its row and its membership of the
// default group, one transaction, on disk before the next begins.
struct NewAccountStatements {
    sqlite3_stmt *begin;
    sqlite3_stmt *group;
    sqlite3_stmt *user;
    sqlite3_stmt *member;
    sqlite3_stmt *commit;
};

NewAccountStatements prepare_new_account(sqlite3 *db)
{
    return {prepare(db, "BEGIN IMMEDIATE"),
            prepare(db, "SELECT id FROM local_groups WHERE folded = 'GUESTS'"),
            prepare(db, "INSERT INTO user_accounts(name, folded, password_hash, password_set,"
                        " priv, home_dir, comment, flags, script_path, created)"
                        " VALUES (?1, ?2, ?3, ?4, 1, NULL, 'Lodgate 1.0i user', 66049, NULL, ?4)"),
            prepare(db, "INSERT INTO group_members(group_id, user_id) VALUES (?1, ?2)"),
            prepare(db, "COMMIT")};
}

bool step_done(sqlite3_stmt *statement)
{
    int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    return result == SQLITE_DONE;
}

bool write_account(sqlite3 *db, const NewAccountStatements &s, const std::string &name,
                   const char *hash)
{
    std::string key = folded(name.c_str());
    if (!step_done(s.begin) || sqlite3_step(s.group) != SQLITE_ROW)
        return false;
    sqlite3_int64 group = sqlite3_column_int64(s.group, 0);
    sqlite3_reset(s.group);
    sqlite3_bind_text(s.user, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_text(s.user, 2, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_text(s.user, 3, hash, -1, SQLITE_STATIC);
    sqlite3_bind_int64(s.user, 4, static_cast<sqlite3_int64>(std::time(nullptr)));
    if (!step_done(s.user))
        return false;
    sqlite3_bind_int64(s.member, 1, group);
    sqlite3_bind_int64(s.member, 2, sqlite3_last_insert_rowid(db));
    return step_done(s.member) && step_done(s.commit);
}

double new_accounts(const char *path, const char *prefix, int count)
{
    sqlite3 *db = open_database(path, SQLITE_OPEN_READWRITE);
    if (sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db, path);
    NewAccountStatements statements = prepare_new_account(db);
    auto start = clock_type::now();
    for (int i = 0; i < count; ++i) {
        char salt[CRYPT_GENSALT_OUTPUT_SIZE];
        if (crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt) == nullptr)
            fail(db, "gensalt");
        const char *hash = crypt_rn("bench-password", salt, &crypt_area, sizeof crypt_area);
        if (hash == nullptr || hash[0] != '$')
            fail(db, "crypt");
        if (!write_account(db, statements, prefix + std::to_string(i), hash))
            fail(db, "new account");
    }
    double elapsed = since_us(start);
    for (sqlite3_stmt *statement : {statements.begin, statements.group, statements.user,
                                    statements.member, statements.commit})
        sqlite3_finalize(statement);
    sqlite3_close(db);
    return count > 0 ? elapsed / count : -1;
}

}  // namespace

int main(int argc, char **argv)
{
    double result = -1;
    if (argc == 4 && std::strcmp(argv[1], "find") == 0)
        return find_once(argv[2], argv[3], nullptr);
    if (argc == 5 && std::strcmp(argv[1], "check") == 0)
        return find_once(argv[2], argv[3], argv[4]);
    if (argc == 5 && std::strcmp(argv[1], "set") == 0)
        result = new_accounts(argv[2], argv[3], std::atoi(argv[4]));
    else if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "lookup") == 0)
        result = lookups(argv[2], std::atoi(argv[3]), std::atoi(argv[4]),
                         argc == 6 && std::strcmp(argv[5], "mean") == 0);
    else if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "serve") == 0)
        return serve(argv[2], argc == 4 && std::strcmp(argv[3], "default-cache") == 0);
    else if (argc == 3 && std::strcmp(argv[1], "scan") == 0)
        result = scan(argv[2]);
    else if (argc == 4 && std::strcmp(argv[1], "commit") == 0)
        result = commits(argv[2], std::atoi(argv[3]));
    if (result < 0) {
        std::fprintf(stderr, "usage: floor_sqlite lookup DB ACCOUNTS COUNT [mean] | scan DB |"
                             " serve DB [default-cache] | commit DB COUNT | find DB NAME |"
                             " check DB NAME PASSWORD | set DB PREFIX COUNT\n");
        return 2;
    }
    std::printf("%.3f\n", result);
    return 0;
}
