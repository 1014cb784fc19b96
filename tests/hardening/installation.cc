#include "tests/hardening/installation.h"

#include <crypt.h>
#include <sqlite3.h>

#include <memory>

namespace {

struct Closer {
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

// Read only, so that the test never changes what it inspects; a missing
// file stays missing.
Connection open_database(const std::string &path, bool writable = false)
{
    sqlite3 *raw = nullptr;
    int flags = writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path.c_str(), &raw, flags, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(raw);
        return nullptr;
    }
    sqlite3_busy_timeout(raw, 10000);
    return Connection(raw);
}

std::optional<std::string> optional_column(sqlite3_stmt *statement, int column)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return std::nullopt;
    return std::string(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)));
}

}  // namespace

void PrintTo(const StoredAccount &account, std::ostream *out)
{
    auto text = [](const std::optional<std::string> &value) {
        return value ? "\"" + *value + "\"" : std::string("none");
    };
    *out << "{" << account.name << " home " << text(account.home_dir) << " comment "
         << text(account.comment) << " script " << text(account.script_path) << " flags "
         << account.flags << " groups " << account.groups.size() << "}";
}

Installation::Installation(const std::string &log_line, const std::string &extra)
    : database(directory.file("accounts.db"))
{
    configure(log_line, extra);
}

void Installation::configure(const std::string &log_line, const std::string &extra)
{
    write_file(directory.file("lodgate.ini"), "path " + directory.path + "\n" + log_line +
                                                  "\naccount_db " + database + "\n" + extra);
}

RunResult Installation::run(const std::vector<std::string> &args, const std::string &input) const
{
    return run_lodgate(args, RunOptions{directory.path, "", input});
}

Lines Installation::replies(const std::string &input) const
{
    return lines_of(run({}, input + "quit\n").out);
}

std::string Installation::log() const
{
    return read_file(directory.file("lodgate.log"));
}

AccountSnapshot read_accounts(const std::string &database)
{
    AccountSnapshot accounts;
    Connection db = open_database(database);
    if (!db)
        return accounts;
    const char *sql =
        "SELECT u.folded, u.name, u.password_hash, u.home_dir, u.comment, u.script_path, u.flags,"
        " (SELECT group_concat(g.name) FROM group_members m JOIN local_groups g"
        "  ON g.id = m.group_id WHERE m.user_id = u.id) FROM user_accounts u";
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql, -1, &raw, nullptr) != SQLITE_OK)
        return accounts;
    while (sqlite3_step(raw) == SQLITE_ROW) {
        StoredAccount account;
        account.name = reinterpret_cast<const char *>(sqlite3_column_text(raw, 1));
        account.password_hash = reinterpret_cast<const char *>(sqlite3_column_text(raw, 2));
        account.home_dir = optional_column(raw, 3);
        account.comment = optional_column(raw, 4);
        account.script_path = optional_column(raw, 5);
        account.flags = sqlite3_column_int64(raw, 6);
        if (std::optional<std::string> groups = optional_column(raw, 7))
            account.groups.push_back(*groups);
        accounts[reinterpret_cast<const char *>(sqlite3_column_text(raw, 0))] = account;
    }
    sqlite3_finalize(raw);
    return accounts;
}

std::string integrity_check(const std::string &database)
{
    Connection db = open_database(database);
    if (!db)
        return "cannot open";
    sqlite3_stmt *raw = nullptr;
    std::string answer = "no answer";
    if (sqlite3_prepare_v2(db.get(), "PRAGMA integrity_check", -1, &raw, nullptr) == SQLITE_OK &&
        sqlite3_step(raw) == SQLITE_ROW)
        answer = reinterpret_cast<const char *>(sqlite3_column_text(raw, 0));
    sqlite3_finalize(raw);
    return answer;
}

bool execute_sql(const std::string &database, const std::string &sql)
{
    Connection db = open_database(database, true);
    return db && sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool password_verifies(const std::string &password, const std::string &stored_hash)
{
    auto area = std::make_unique<crypt_data>();
    const char *out = crypt_r(password.c_str(), stored_hash.c_str(), area.get());
    return out != nullptr && stored_hash == out;
}

std::string upper_ascii(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string hex_of(const std::string &bytes)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text.push_back(DIGITS[byte >> 4]);
        text.push_back(DIGITS[byte & 15]);
    }
    return text;
}

std::string base64_of(const std::string &bytes)
{
    static const char DIGITS[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            value |= static_cast<unsigned char>(bytes[i + 2]);
        text.push_back(DIGITS[(value >> 18) & 63]);
        text.push_back(DIGITS[(value >> 12) & 63]);
        text.push_back(i + 1 < bytes.size() ? DIGITS[(value >> 6) & 63] : '=');
        text.push_back(i + 2 < bytes.size() ? DIGITS[value & 63] : '=');
    }
    return text;
}
