// lodgate-admin user list|show|add|passwd|disable|enable|unlock|del
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "accountdb/account_db.h"
#include "accountdb/password_hash.h"
#include "accountdb/user_records.h"
#include "accountdb/wide_text.h"
#include "admin/admin.h"
#include "admin/password_input.h"
#include "config/settings.h"
#include "platform/win_types.h"

namespace {

constexpr std::int64_t SECONDS_PER_DAY = 86400;

constexpr const char GROUPS_OF_USER[] =
    "SELECT g.name FROM group_members m JOIN local_groups g ON g.id = m.group_id"
    " WHERE m.user_id = ?1 ORDER BY g.name";
constexpr const char UNLOCK_USER[] =
    "UPDATE user_accounts SET failed_logons = 0, last_failed_logon = NULL,"
    " locked_until = NULL WHERE id = ?1";

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

// Group names joined by commas, "-" for none.
std::string groups_of(std::int64_t user_id)
{
    OwnStatement statement = prepare(GROUPS_OF_USER);
    std::string out;
    if (!statement)
        return "?";
    sqlite3_bind_int64(statement.get(), 1, user_id);
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        out += (out.empty() ? "" : ",") + column_text(statement.get(), 0);
    return out.empty() ? "-" : out;
}

std::string flags_of(const UserRecord &user)
{
    std::string out;
    if ((user.flags & UF_ACCOUNTDISABLE) != 0)
        out = "disabled";
    if (user.locked_until > account_clock())
        out += out.empty() ? "locked" : ",locked";
    return out.empty() ? "-" : out;
}

// Tabs and line breaks would break a tab-separated row.
std::string field(const std::optional<std::string> &text)
{
    if (!text || text->empty())
        return "-";
    std::string out = *text;
    for (char &c : out)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return out;
}

std::int64_t age_days(const UserRecord &user)
{
    std::int64_t age = account_clock() - user.password_set;
    return age < 0 ? 0 : age / SECONDS_PER_DAY;
}

void print_row(const UserRecord &user, const AdminOptions &options)
{
    const char *format = options.tsv ? "%s\t%s\t%s\t%lld\t%s\t%s\n"
                                     : "%-16s %-16s %-20s %5lldd %-24s %s\n";
    std::printf(format, user.name.c_str(), flags_of(user).c_str(), groups_of(user.id).c_str(),
                static_cast<long long>(age_days(user)), field(user.home_dir).c_str(),
                field(user.comment).c_str());
}

void print_details(const UserRecord &user, const AdminOptions &options)
{
    const std::string values[][2] = {
        {"name", user.name},
        {"flags", flags_of(user)},
        {"groups", groups_of(user.id)},
        {"password_age_days", std::to_string(age_days(user))},
        {"failed_logons", std::to_string(user.failed_logons)},
        {"home", field(user.home_dir)},
        {"comment", field(user.comment)},
        {"script", field(user.script_path)},
    };
    for (const auto &row : values)
        std::printf(options.tsv ? "%s\t%s\n" : "%-18s %s\n", row[0].c_str(), row[1].c_str());
}

int service_fail(DWORD status, const std::string &name)
{
    return admin_fail(ADMIN_FAILED, "%s: %s", name.c_str(), admin_status_text(status));
}

int find(const std::string &name, UserRecord &user)
{
    DWORD status = find_user(name, user);
    return status == NERR_Success ? ADMIN_OK : service_fail(status, name);
}

int list(const AdminWords &, const AdminOptions &options)
{
    if (!options.tsv)
        std::printf("%-16s %-16s %-20s %6s %-24s %s\n", "NAME", "FLAGS", "GROUPS", "AGE", "HOME",
                    "COMMENT");
    UserPage page;
    std::int64_t after = 0;
    do {
        DWORD status = list_users(after, [](const UserRecord &) { return true; }, page);
        if (status != NERR_Success)
            return service_fail(status, "list");
        for (const UserRecord &user : page.users) {
            print_row(user, options);
            after = user.id;
        }
    } while (page.more);
    return ADMIN_OK;
}

int show(const AdminWords &words, const AdminOptions &options)
{
    UserRecord user;
    if (find(words[0], user) != ADMIN_OK)
        return ADMIN_FAILED;
    print_details(user, options);
    return ADMIN_OK;
}

// The policy's length check, counted in the service's units, and the hash.
int hash_new(const AdminOptions &options, UserRecord &user)
{
    SecretText secret;
    if (read_new_password(options.password_stdin, secret) != ADMIN_OK)
        return ADMIN_FAILED;
    if (password_fault(secret.text()) != 0)
        return admin_fail(ADMIN_FAILED, "the password is not valid UTF-8 or too long");
    if (secret.length == 0)
        return service_fail(NERR_PasswordTooShort, user.name);
    std::int64_t minimum = 0;
    if (read_policy(POLICY_MIN_PASSWORD_LENGTH, minimum) != NERR_Success)
        return service_fail(NERR_InternalError, user.name);
    if (static_cast<std::int64_t>(wide_units_of(secret.text())) < minimum)
        return service_fail(NERR_PasswordTooShort, user.name);
    if (hash_password(secret.text(), user.password_hash) != 0)
        return admin_fail(ADMIN_FAILED, "password hashing failed");
    user.password_set = account_clock();
    return ADMIN_OK;
}

// home=DIR and comment=TEXT words; false for any other word.
bool read_fields(const AdminWords &words, UserRecord &user)
{
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (word.starts_with("home="))
            user.home_dir = word.substr(5);
        else if (word.starts_with("comment="))
            user.comment = word.substr(8);
        else
            return false;
    }
    return true;
}

int add(const AdminWords &words, const AdminOptions &options)
{
    UserRecord user;
    user.name = words[0];
    if (!read_fields(words, user))
        return admin_fail(ADMIN_USAGE, "user add NAME [home=DIR] [comment=TEXT]");
    // Said before the password is asked for, and nothing is stored.
    if (DWORD member = user_record_fault(user); member != 0)
        return admin_fail(ADMIN_FAILED, "%s: %s", user.name.c_str(), admin_member_text(member));
    if (hash_new(options, user) != ADMIN_OK)
        return ADMIN_FAILED;
    DWORD status = insert_user(user);
    if (status != NERR_Success)
        return service_fail(status, user.name);
    // New accounts join the same group as those the module creates.
    const char *group = settings.group ? settings.group->c_str() : DEFAULT_GROUP;
    status = add_group_members(group, {user.name});
    if (status != NERR_Success)
        return admin_fail(ADMIN_FAILED, "%s: added, but not to group %s: %s", user.name.c_str(),
                          group, admin_status_text(status));
    if (!options.tsv)
        std::printf("added %s\n", user.name.c_str());
    return ADMIN_OK;
}

int passwd(const AdminWords &words, const AdminOptions &options)
{
    UserRecord user;
    if (find(words[0], user) != ADMIN_OK || hash_new(options, user) != ADMIN_OK)
        return ADMIN_FAILED;
    DWORD status = update_user(user.name, user, true);
    return status == NERR_Success ? ADMIN_OK : service_fail(status, user.name);
}

int set_disabled(const std::string &name, bool disabled)
{
    UserRecord user;
    if (find(name, user) != ADMIN_OK)
        return ADMIN_FAILED;
    user.flags = disabled ? (user.flags | UF_ACCOUNTDISABLE) : (user.flags & ~UF_ACCOUNTDISABLE);
    DWORD status = update_user(user.name, user, false);
    return status == NERR_Success ? ADMIN_OK : service_fail(status, user.name);
}

int disable(const AdminWords &words, const AdminOptions &)
{
    return set_disabled(words[0], true);
}

int enable(const AdminWords &words, const AdminOptions &)
{
    return set_disabled(words[0], false);
}

int unlock(const AdminWords &words, const AdminOptions &)
{
    UserRecord user;
    if (find(words[0], user) != ADMIN_OK)
        return ADMIN_FAILED;
    OwnStatement statement = prepare(UNLOCK_USER);
    if (!statement)
        return service_fail(NERR_InternalError, user.name);
    sqlite3_bind_int64(statement.get(), 1, user.id);
    int result = sqlite3_step(statement.get());
    if (result != SQLITE_DONE)
        return service_fail(account_db_failure("cannot unlock", result), user.name);
    return ADMIN_OK;
}

int del(const AdminWords &words, const AdminOptions &)
{
    DWORD status = delete_user(words[0]);
    return status == NERR_Success ? ADMIN_OK : service_fail(status, words[0]);
}

struct Action {
    const char *name;
    bool takes_name;
    int (*run)(const AdminWords &, const AdminOptions &);
};

constexpr Action ACTIONS[] = {
    {"list", false, list},     {"show", true, show},       {"add", true, add},
    {"passwd", true, passwd},  {"disable", true, disable}, {"enable", true, enable},
    {"unlock", true, unlock},  {"del", true, del},
};

}  // namespace

int run_user_command(const AdminWords &words, const AdminOptions &options)
{
    if (words.empty())
        return admin_fail(ADMIN_USAGE, "user: an action is missing");
    for (const Action &action : ACTIONS) {
        if (words[0] != action.name)
            continue;
        AdminWords rest(words.begin() + 1, words.end());
        if (action.takes_name ? rest.empty() || (rest.size() > 1 && std::strcmp(action.name, "add") != 0)
                              : !rest.empty())
            return admin_fail(ADMIN_USAGE, "user %s: wrong number of words", action.name);
        return action.run(rest, options);
    }
    return admin_fail(ADMIN_USAGE, "user: unknown action %s", words[0].c_str());
}
