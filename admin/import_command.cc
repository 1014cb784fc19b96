// lodgate-admin import [--min-uid N] PASSWD [SHADOW]
//
// passwd lines: name:password:uid:gid:gecos:home:shell
// shadow lines: name:hash:... (the hash is kept as it is, so that users keep
// their passwords; "!" and "*" entries stay locked)
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/account_names.h"
#include "accountdb/user_records.h"
#include "admin/admin.h"
#include "config/settings.h"
#include "platform/win_types.h"

namespace {

constexpr std::int64_t DEFAULT_MIN_UID = 1000;
// Only files this large earn a progress line.
constexpr std::size_t PROGRESS_EVERY = 1000;
constexpr const char LOCKED_HASH[] = "!";

enum PasswdField { P_NAME, P_PASSWORD, P_UID, P_GID, P_GECOS, P_HOME, P_SHELL, P_COUNT };

struct ImportCounts {
    std::size_t imported = 0;
    std::size_t below_min_uid = 0;
    std::size_t existing = 0;
    std::size_t malformed = 0;
};

std::vector<std::string> split_fields(const std::string &line)
{
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type colon = line.find(':', start);
        fields.push_back(line.substr(start, colon - start));
        if (colon == std::string::npos)
            return fields;
        start = colon + 1;
    }
}

bool read_lines(const std::string &path, std::vector<std::string> &lines)
{
    std::ifstream file(path);
    if (!file)
        return false;
    std::string line;
    while (std::getline(file, line))
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    return !file.bad();
}

bool parse_uid(const std::string &text, std::int64_t &uid)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    uid = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0;
}

std::map<std::string, std::string> shadow_hashes(const std::vector<std::string> &lines)
{
    std::map<std::string, std::string> hashes;
    for (const std::string &line : lines) {
        std::vector<std::string> fields = split_fields(line);
        if (fields.size() >= 2)
            hashes[fields[0]] = fields[1];
    }
    return hashes;
}

// The full name: GECOS's first comma-separated field.
std::optional<std::string> gecos_name(const std::string &gecos)
{
    std::string name = gecos.substr(0, gecos.find(','));
    if (name.empty())
        return std::nullopt;
    return name;
}

void show_progress(std::size_t done, std::size_t total)
{
    if (total >= PROGRESS_EVERY && done % PROGRESS_EVERY == 0 && isatty(STDERR_FILENO))
        std::fprintf(stderr, "\rread %zu of %zu lines", done, total);
}

// "x" means the hash is in the shadow file; no entry there, or an empty
// one (which would be no password at all), leaves the account locked.
std::string stored_hash(const std::string &name, const std::string &passwd_field,
                        const std::map<std::string, std::string> &hashes)
{
    std::string hash(LOCKED_HASH);
    auto shadow = hashes.find(name);
    if (passwd_field != "x")
        hash = passwd_field;
    else if (shadow != hashes.end())
        hash = shadow->second;
    return hash.empty() ? std::string(LOCKED_HASH) : hash;
}

// The record of one passwd line, or false with the count it falls under.
bool user_of_line(const std::string &line, const std::map<std::string, std::string> &hashes,
                  std::int64_t min_uid, UserRecord &user, std::size_t *&skip, ImportCounts &counts)
{
    std::vector<std::string> fields = split_fields(line);
    std::int64_t uid = 0;
    skip = &counts.malformed;
    if (fields.size() != P_COUNT || !parse_uid(fields[P_UID], uid) ||
        !name_is_valid(fields[P_NAME]))
        return false;
    skip = &counts.below_min_uid;
    if (uid < min_uid)
        return false;
    user.name = fields[P_NAME];
    user.password_hash = stored_hash(fields[P_NAME], fields[P_PASSWORD], hashes);
    user.password_set = account_clock();
    user.home_dir = fields[P_HOME].empty() ? std::nullopt : std::optional(fields[P_HOME]);
    user.comment = gecos_name(fields[P_GECOS]);
    skip = &counts.malformed;
    return user_record_fault(user) == 0;
}

bool is_new(const UserRecord &user, std::set<std::string> &seen)
{
    UserRecord existing;
    return seen.insert(fold_name(user.name)).second &&
           find_user(user.name, existing) == NERR_UserNotFound;
}

int store(const std::vector<UserRecord> &users)
{
    if (users.empty())
        return ADMIN_OK;
    DWORD status = insert_users(users.data(), users.size());
    if (status != NERR_Success)
        return admin_fail(ADMIN_FAILED, "nothing imported: %s", admin_status_text(status));
    std::vector<std::string> names;
    for (const UserRecord &user : users)
        names.push_back(user.name);
    const char *group = settings.group ? settings.group->c_str() : DEFAULT_GROUP;
    status = add_group_members(group, names);
    if (status != NERR_Success)
        return admin_fail(ADMIN_FAILED, "imported, but not joined to %s: %s", group,
                          admin_status_text(status));
    return ADMIN_OK;
}

void print_summary(const ImportCounts &counts, const AdminOptions &options)
{
    std::printf(options.tsv ? "imported\t%zu\nbelow_min_uid\t%zu\nexisting\t%zu\nmalformed\t%zu\n"
                            : "imported %zu; skipped: %zu below the minimum uid, %zu existing, "
                              "%zu malformed\n",
                counts.imported, counts.below_min_uid, counts.existing, counts.malformed);
}

}  // namespace

int run_import_command(const AdminWords &words, const AdminOptions &options)
{
    std::int64_t min_uid = DEFAULT_MIN_UID;
    std::size_t first = 0;
    if (words.size() >= 2 && words[0] == "--min-uid") {
        if (!parse_uid(words[1], min_uid))
            return admin_fail(ADMIN_USAGE, "import: --min-uid takes a number");
        first = 2;
    }
    if (words.size() - first < 1 || words.size() - first > 2)
        return admin_fail(ADMIN_USAGE, "import [--min-uid N] PASSWD [SHADOW]");
    std::vector<std::string> passwd;
    std::vector<std::string> shadow;
    if (!read_lines(words[first], passwd))
        return admin_fail(ADMIN_FAILED, "cannot read %s", words[first].c_str());
    if (words.size() - first == 2 && !read_lines(words[first + 1], shadow))
        return admin_fail(ADMIN_FAILED, "cannot read %s", words[first + 1].c_str());

    std::map<std::string, std::string> hashes = shadow_hashes(shadow);
    ImportCounts counts;
    std::vector<UserRecord> users;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < passwd.size(); ++i) {
        show_progress(i + 1, passwd.size());
        UserRecord user;
        std::size_t *skip = nullptr;
        if (!user_of_line(passwd[i], hashes, min_uid, user, skip, counts))
            ++*skip;
        else if (!is_new(user, seen))
            ++counts.existing;
        else
            users.push_back(std::move(user));
    }
    if (passwd.size() >= PROGRESS_EVERY && isatty(STDERR_FILENO))
        std::fputc('\n', stderr);
    if (store(users) != ADMIN_OK)
        return ADMIN_FAILED;
    counts.imported = users.size();
    print_summary(counts, options);
    return ADMIN_OK;
}
