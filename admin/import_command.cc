// lodgate-admin import [--min-uid N] [--allow-weak] PASSWD [SHADOW]
//
// passwd lines: name:password:uid:gid:gecos:home:shell
// shadow lines: name:hash:... (the hash is kept as it is, so that users keep
// their passwords; an empty field and "!" and "*" entries, which can never
// log in, come in as disabled accounts)
//
// A line whose name, values or hash the store refuses, or whose home set
// would refuse, is named on standard error with the reason and left out;
// the others are imported. DES and bigcrypt hashes, which check only 8
// characters of a password, and unsalted NT hashes are refused unless
// --allow-weak.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "hashing/password_hash.h"
#include "admin/admin.h"
#include "config/settings.h"
#include "homedir/home_directory.h"
#include "platform/account_names.h"
#include "platform/parameter_number.h"
#include "platform/win_types.h"

namespace {

// Only files this large earn a progress line.
constexpr std::size_t PROGRESS_EVERY = 1000;
constexpr const char LOCKED_HASH[] = "!";

enum PasswdField { P_NAME, P_PASSWORD, P_UID, P_GID, P_GECOS, P_HOME, P_SHELL, P_COUNT };

struct ImportCounts {
    std::size_t imported = 0;
    std::size_t below_min_uid = 0;
    std::size_t existing = 0;
    std::size_t malformed = 0;
    std::size_t refused = 0;
};

struct ImportOptions {
    std::int64_t min_uid = 1000;
    bool allow_weak = false;
};

struct WeakMethod {
    bool (*matches)(const char *hash);
    const char *refusal;
};

const WeakMethod WEAK_METHODS[] = {
    {hash_is_des_family,
     "a DES or bigcrypt hash checks only 8 characters of a password (--allow-weak takes it)"},
    {hash_is_unsalted, "an NT hash has no salt, so one table cracks it and every account that "
                       "shares it (--allow-weak takes it)"},
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

// The lines that are neither empty nor comments, and when numbers is given
// their numbers in the file.
bool read_lines(const std::string &path, std::vector<std::string> &lines,
                std::vector<std::size_t> *numbers = nullptr)
{
    std::ifstream file(path);
    if (!file)
        return false;
    std::string line;
    for (std::size_t number = 1; std::getline(file, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        lines.push_back(line);
        if (numbers != nullptr)
            numbers->push_back(number);
    }
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
// one (which would be no password at all), gives a value no password
// matches.
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

// The member that no store takes, or 0: names and values the protocol
// cannot carry, hashes that cost more than a check may.
DWORD import_fault(const StoreImport &user)
{
    if (!hash_cost_is_bounded(user.hash.c_str()))
        return MEMBER_PASSWORD;
    return account_member_fault(user.account, true);
}

// Why the store would not take user, or the empty text.
std::string refusal(const StoreImport &user, const ImportOptions &options)
{
    if (DWORD member = import_fault(user); member != 0)
        return admin_member_text(member);
    // The module's set would refuse to provision such a home.
    const std::optional<std::string> &home = user.account.home_dir;
    if (const char *why = home ? home_directory_refusal(home->c_str()) : nullptr)
        return std::string("home directory: ") + why;
    for (const WeakMethod &method : WEAK_METHODS)
        if (!options.allow_weak && method.matches(user.hash.c_str()))
            return method.refusal;
    return {};
}

// Empty, "!" or "*" first: no password can match, so the account is
// disabled and lists show it so.
bool hash_is_usable(const std::string &hash)
{
    return !hash.empty() && hash[0] != '!' && hash[0] != '*';
}

// The record of one passwd line, or false with the count it falls under; a
// refusal is said on standard error.
bool user_of_line(const std::string &line, std::size_t number,
                  const std::map<std::string, std::string> &hashes, const ImportOptions &options,
                  StoreImport &user, std::size_t *&skip, ImportCounts &counts)
{
    std::vector<std::string> fields = split_fields(line);
    std::int64_t uid = 0;
    skip = &counts.malformed;
    if (fields.size() != P_COUNT || !parse_uid(fields[P_UID], uid) ||
        !name_is_valid(fields[P_NAME]))
        return false;
    skip = &counts.below_min_uid;
    if (uid < options.min_uid)
        return false;
    StoreAccount &account = user.account;
    account.name = fields[P_NAME];
    user.hash = stored_hash(fields[P_NAME], fields[P_PASSWORD], hashes);
    account.home_dir = fields[P_HOME].empty() ? std::nullopt : std::optional(fields[P_HOME]);
    account.comment = gecos_name(fields[P_GECOS]);
    if (!hash_is_usable(user.hash))
        account.flags |= UF_ACCOUNTDISABLE;
    skip = &counts.refused;
    std::string why = refusal(user, options);
    if (!why.empty())
        admin_fail(ADMIN_FAILED, "import: line %zu (%s) refused: %s", number,
                   account.name.c_str(), why.c_str());
    return why.empty();
}

bool is_new(const StoreImport &user, std::set<std::string> &seen)
{
    StoreAccount existing;
    return seen.insert(fold_name(user.account.name)).second &&
           admin_store->find_account(user.account.name, existing) == NERR_UserNotFound;
}

int store(const std::vector<StoreImport> &users)
{
    if (users.empty())
        return ADMIN_OK;
    DWORD status = admin_store->import_accounts(users);
    if (status != NERR_Success)
        return admin_fail(ADMIN_FAILED, "nothing imported: %s", admin_status_text(status));
    std::vector<std::string> names;
    for (const StoreImport &user : users)
        names.push_back(user.account.name);
    const char *group = settings.group ? settings.group->c_str() : DEFAULT_GROUP;
    status = admin_store->add_group_members(group, names);
    if (status != NERR_Success)
        return admin_fail(ADMIN_FAILED, "imported, but not joined to %s: %s", group,
                          admin_status_text(status));
    return ADMIN_OK;
}

void print_summary(const ImportCounts &counts, const AdminOptions &options)
{
    std::printf(options.tsv ? "imported\t%zu\nbelow_min_uid\t%zu\nexisting\t%zu\nmalformed\t%zu\n"
                              "refused\t%zu\n"
                            : "imported %zu; skipped: %zu below the minimum uid, %zu existing, "
                              "%zu malformed, %zu refused\n",
                counts.imported, counts.below_min_uid, counts.existing, counts.malformed,
                counts.refused);
}

}  // namespace

namespace {

// The options before the files, and in first the index of the first file.
int read_import_options(const AdminWords &words, ImportOptions &import, std::size_t &first)
{
    for (first = 0; first < words.size() && words[first].starts_with("--"); ++first) {
        const std::string &option = words[first];
        if (option == "--allow-weak")
            import.allow_weak = true;
        else if (option != "--min-uid" || first + 1 >= words.size())
            return admin_fail(ADMIN_USAGE, "import: unknown option %s", option.c_str());
        else if (!parse_uid(words[++first], import.min_uid))
            return admin_fail(ADMIN_USAGE, "import: --min-uid takes a number");
    }
    if (words.size() - first < 1 || words.size() - first > 2)
        return admin_fail(ADMIN_USAGE, "import [--min-uid N] [--allow-weak] PASSWD [SHADOW]");
    return ADMIN_OK;
}

}  // namespace

int run_import_command(const AdminWords &words, const AdminOptions &options)
{
    ImportOptions import;
    std::size_t first = 0;
    if (int status = read_import_options(words, import, first); status != ADMIN_OK)
        return status;
    std::vector<std::string> passwd;
    std::vector<std::size_t> numbers;
    std::vector<std::string> shadow;
    if (!read_lines(words[first], passwd, &numbers))
        return admin_fail(ADMIN_FAILED, "cannot read %s", words[first].c_str());
    if (words.size() - first == 2 && !read_lines(words[first + 1], shadow))
        return admin_fail(ADMIN_FAILED, "cannot read %s", words[first + 1].c_str());

    std::map<std::string, std::string> hashes = shadow_hashes(shadow);
    ImportCounts counts;
    std::vector<StoreImport> users;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < passwd.size(); ++i) {
        show_progress(i + 1, passwd.size());
        StoreImport user;
        std::size_t *skip = nullptr;
        if (!user_of_line(passwd[i], numbers[i], hashes, import, user, skip, counts))
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
