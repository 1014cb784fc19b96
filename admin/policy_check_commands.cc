// lodgate-admin policy show|set, and check.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "accountdb/account_db.h"
#include "accountdb/user_records.h"
#include "admin/admin.h"
#include "platform/win_types.h"

namespace {

struct PolicyKey {
    const char *word;  // as the administrator types it
    const char *name;  // as the policy table holds it
    std::int64_t maximum;
};

// Bounds keep the lockout arithmetic far from overflow.
constexpr std::int64_t POLICY_SECONDS_MAX = 100LL * 365 * 86400;
constexpr PolicyKey POLICY_KEYS[] = {
    {"min-length", POLICY_MIN_PASSWORD_LENGTH, 256},
    {"lockout-threshold", POLICY_LOCKOUT_THRESHOLD, 1000000},
    {"lockout-window", POLICY_LOCKOUT_WINDOW, POLICY_SECONDS_MAX},
    {"lockout-duration", POLICY_LOCKOUT_DURATION, POLICY_SECONDS_MAX},
};

const PolicyKey *find_key(const std::string &word)
{
    for (const PolicyKey &key : POLICY_KEYS)
        if (word == key.word)
            return &key;
    return nullptr;
}

bool parse_value(const std::string &text, std::int64_t maximum, std::int64_t &value)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > maximum)
        return false;
    value = parsed;
    return true;
}

int show(const AdminOptions &options)
{
    for (const PolicyKey &key : POLICY_KEYS) {
        std::int64_t value = 0;
        if (read_policy(key.name, value) != NERR_Success)
            return admin_fail(ADMIN_FAILED, "%s", admin_status_text(NERR_InternalError));
        std::printf(options.tsv ? "%s\t%lld\n" : "%-18s %lld\n", key.word,
                    static_cast<long long>(value));
    }
    return ADMIN_OK;
}

int set(const AdminWords &words)
{
    const PolicyKey *key = find_key(words[1]);
    if (key == nullptr)
        return admin_fail(ADMIN_USAGE, "policy set: unknown key %s", words[1].c_str());
    std::int64_t value = 0;
    if (!parse_value(words[2], key->maximum, value))
        return admin_fail(ADMIN_USAGE, "policy set %s: a number from 0 to %lld", key->word,
                          static_cast<long long>(key->maximum));
    if (write_policy(key->name, value) != NERR_Success)
        return admin_fail(ADMIN_FAILED, "%s", admin_status_text(NERR_InternalError));
    return ADMIN_OK;
}

struct Finalizer {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};

// Every row of a pragma's answer, in its first column.
bool pragma_rows(const char *sql, std::string &rows)
{
    sqlite3_stmt *raw = nullptr;
    int result = sqlite3_prepare_v2(account_db_connection(), sql, -1, &raw, nullptr);
    std::unique_ptr<sqlite3_stmt, Finalizer> statement(raw);
    if (result != SQLITE_OK)
        return false;
    rows.clear();
    while ((result = sqlite3_step(raw)) == SQLITE_ROW)
        rows += (rows.empty() ? "" : "; ") + column_text(raw, 0);
    return result == SQLITE_DONE;
}

}  // namespace

int run_policy_command(const AdminWords &words, const AdminOptions &options)
{
    if (words.size() == 1 && words[0] == "show")
        return show(options);
    if (words.size() == 3 && words[0] == "set")
        return set(words);
    return admin_fail(ADMIN_USAGE, "policy show | policy set KEY VALUE");
}

int run_check_command(const AdminWords &words, const AdminOptions &options)
{
    if (!words.empty())
        return admin_fail(ADMIN_USAGE, "check takes no words");
    std::string integrity;
    std::string version;
    if (!pragma_rows("PRAGMA integrity_check", integrity) ||
        !pragma_rows("PRAGMA user_version", version))
        return admin_fail(ADMIN_FAILED, "cannot check %s: %s", account_db_path().c_str(),
                          sqlite3_errmsg(account_db_connection()));
    std::printf(options.tsv ? "file\t%s\nintegrity\t%s\nschema_version\t%s\n"
                            : "file:           %s\nintegrity:      %s\nschema version: %s\n",
                account_db_path().c_str(), integrity.c_str(), version.c_str());
    if (integrity != "ok")
        return admin_fail(ADMIN_FAILED, "the integrity check found faults");
    if (version != std::to_string(ACCOUNT_DB_SCHEMA_VERSION))
        return admin_fail(ADMIN_FAILED, "schema version %s, expected %d", version.c_str(),
                          ACCOUNT_DB_SCHEMA_VERSION);
    return ADMIN_OK;
}
