// Floors of the account database: SQLite alone on the same file. Prints
// one number, in microseconds.
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
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path, &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        fail(db, path);
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

}  // namespace

int main(int argc, char **argv)
{
    double result = -1;
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "lookup") == 0)
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
                             " serve DB [default-cache] | commit DB COUNT\n");
        return 2;
    }
    std::printf("%.3f\n", result);
    return 0;
}
