// lodgate-admin user list|show|add|passwd|disable|enable|unlock|del
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "platform/account_names.h"
#include "accountdb/password_hash.h"
#include "admin/admin.h"
#include "admin/password_input.h"
#include "config/settings.h"
#include "platform/account_names.h"
#include "platform/parameter_number.h"
#include "platform/utf_text.h"
#include "platform/win_types.h"

namespace {

constexpr std::int64_t SECONDS_PER_DAY = 86400;

// Group names joined by commas, "-" for none.
std::string joined(const std::vector<std::string> &groups)
{
    std::string out;
    for (const std::string &group : groups)
        out += (out.empty() ? "" : ",") + group;
    return out.empty() ? "-" : out;
}

std::string groups_of(const std::string &name)
{
    std::vector<std::string> groups;
    if (admin_store->account_groups(name, groups) != NERR_Success)
        return "?";
    return joined(groups);
}

// Every membership as (folded member, group), sorted, read once for a whole
// listing: a question per account would cost a directory a search each.
struct GroupIndex {
    bool read = false;
    std::vector<std::pair<std::string, std::string>> pairs;
};

GroupIndex read_group_index()
{
    GroupIndex index;
    std::vector<StoreGroup> groups;
    if (admin_store->list_groups(groups) != NERR_Success)
        return index;
    std::vector<std::string> members;
    for (const StoreGroup &group : groups) {
        if (admin_store->group_members(group.name, members) != NERR_Success)
            return GroupIndex{};
        for (const std::string &member : members)
            index.pairs.emplace_back(fold_name(member), group.name);
    }
    std::sort(index.pairs.begin(), index.pairs.end());
    index.read = true;
    return index;
}

std::string groups_in(const GroupIndex &index, const std::string &name)
{
    if (!index.read)
        return "?";
    std::vector<std::string> groups;
    std::string folded = fold_name(name);
    auto at = std::lower_bound(index.pairs.begin(), index.pairs.end(),
                               std::make_pair(folded, std::string()));
    for (; at != index.pairs.end() && at->first == folded; ++at)
        groups.push_back(at->second);
    return joined(groups);
}

std::string flags_of(const StoreAccount &account)
{
    std::string out;
    if ((account.flags & UF_ACCOUNTDISABLE) != 0)
        out = "disabled";
    if (account.locked)
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

// 0 when the store does not know (a directory without password aging keeps
// no change time), as the module's password age says.
std::int64_t age_days(const StoreAccount &account)
{
    if (account.password_set == 0)
        return 0;
    std::int64_t age = static_cast<std::int64_t>(std::time(nullptr)) - account.password_set;
    return age < 0 ? 0 : age / SECONDS_PER_DAY;
}

void print_row(const StoreAccount &account, const GroupIndex &groups,
               const AdminOptions &options)
{
    const char *format = options.tsv ? "%s\t%s\t%s\t%lld\t%s\t%s\n"
                                     : "%-16s %-16s %-20s %5lldd %-24s %s\n";
    std::printf(format, account.name.c_str(), flags_of(account).c_str(),
                groups_in(groups, account.name).c_str(), static_cast<long long>(age_days(account)),
                field(account.home_dir).c_str(), field(account.comment).c_str());
}

void print_details(const StoreAccount &account, const AdminOptions &options)
{
    const std::string values[][2] = {
        {"name", account.name},
        {"flags", flags_of(account)},
        {"groups", groups_of(account.name)},
        {"password_age_days", std::to_string(age_days(account))},
        {"failed_logons", std::to_string(account.failed_logons)},
        {"home", field(account.home_dir)},
        {"comment", field(account.comment)},
        {"script", field(account.script_path)},
    };
    for (const auto &row : values)
        std::printf(options.tsv ? "%s\t%s\n" : "%-18s %s\n", row[0].c_str(), row[1].c_str());
}

int service_fail(DWORD status, const std::string &name)
{
    return admin_fail(ADMIN_FAILED, "%s: %s", name.c_str(), admin_status_text(status));
}

int find(const std::string &name, StoreAccount &account)
{
    DWORD status = admin_store->find_account(name, account);
    return status == NERR_Success ? ADMIN_OK : service_fail(status, name);
}

// Accounts printed per batch: the rest wait in the store, not here.
constexpr int LIST_BATCH = 500;

bool take_batch(const StoreAccount &, void *context)
{
    int &left = *static_cast<int *>(context);
    return left-- > 0;
}

int list(const AdminWords &, const AdminOptions &options)
{
    if (!options.tsv)
        std::printf("%-16s %-16s %-20s %6s %-24s %s\n", "NAME", "FLAGS", "GROUPS", "AGE", "HOME",
                    "COMMENT");
    GroupIndex groups = read_group_index();
    StorePage page;
    std::string cursor;
    do {
        int left = LIST_BATCH;
        DWORD status = admin_store->list_accounts(cursor, {}, take_batch, &left, page);
        if (status != NERR_Success)
            return service_fail(status, "list");
        for (const StoreAccount &account : page.accounts)
            print_row(account, groups, options);
        cursor = page.next;
    } while (page.more);
    return ADMIN_OK;
}

int show(const AdminWords &words, const AdminOptions &options)
{
    StoreAccount account;
    if (find(words[0], account) != ADMIN_OK)
        return ADMIN_FAILED;
    print_details(account, options);
    return ADMIN_OK;
}

// A new password; the store checks it against the policy.
int read_password(const AdminOptions &options, SecretText &secret)
{
    if (read_new_password(options.password_stdin, secret) != ADMIN_OK)
        return ADMIN_FAILED;
    if (password_fault(std::string_view(secret.text(), secret.length)) != 0)
        return admin_fail(ADMIN_FAILED, "the password is not valid UTF-8 or too long");
    return ADMIN_OK;
}

// home=DIR and comment=TEXT words; false for any other word.
bool read_fields(const AdminWords &words, StoreAccount &account)
{
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (word.starts_with("home="))
            account.home_dir = word.substr(5);
        else if (word.starts_with("comment="))
            account.comment = word.substr(8);
        else
            return false;
    }
    return true;
}

int add(const AdminWords &words, const AdminOptions &options)
{
    StoreAccount account;
    account.name = words[0];
    if (!read_fields(words, account))
        return admin_fail(ADMIN_USAGE, "user add NAME [home=DIR] [comment=TEXT]");
    // Said before the password is asked for, and nothing is stored.
    if (DWORD member = account_member_fault(account, true); member != 0)
        return admin_fail(ADMIN_FAILED, "%s: %s", account.name.c_str(), admin_member_text(member));
    SecretText secret;
    if (read_password(options, secret) != ADMIN_OK)
        return ADMIN_FAILED;
    DWORD member = 0;
    // The account and its group are one change, as the module's set makes
    // them: a failure or a kill halfway leaves no account that logs on.
    admin_store->begin_change();
    DWORD status = admin_store->insert_account(account, StorePassword{secret.text(), nullptr},
                                               &member);
    // New accounts join the same group as those the module creates.
    const char *group = settings.group ? settings.group->c_str() : DEFAULT_GROUP;
    DWORD joined = status == NERR_Success ? admin_store->add_group_members(group, {account.name})
                                          : NERR_Success;
    DWORD ended = admin_store->end_change(status == NERR_Success && joined == NERR_Success);
    if (status == ERROR_INVALID_PARAMETER)
        return admin_fail(ADMIN_FAILED, "%s: %s", account.name.c_str(), admin_member_text(member));
    if (status != NERR_Success)
        return service_fail(status, account.name);
    if (joined != NERR_Success)
        return admin_fail(ADMIN_FAILED, "%s: not added: group %s: %s", account.name.c_str(),
                          group, admin_status_text(joined));
    if (ended != NERR_Success)
        return service_fail(ended, account.name);
    if (!options.tsv)
        std::printf("added %s\n", account.name.c_str());
    return ADMIN_OK;
}

int passwd(const AdminWords &words, const AdminOptions &options)
{
    StoreAccount account;
    SecretText secret;
    if (find(words[0], account) != ADMIN_OK ||
        read_password(options, secret) != ADMIN_OK)
        return ADMIN_FAILED;
    StorePassword password{secret.text(), nullptr};
    DWORD status = admin_store->update_account(account.name, account, &password, nullptr);
    return status == NERR_Success ? ADMIN_OK : service_fail(status, account.name);
}

int set_disabled(const std::string &name, bool disabled)
{
    StoreAccount account;
    if (find(name, account) != ADMIN_OK)
        return ADMIN_FAILED;
    account.flags = disabled ? (account.flags | UF_ACCOUNTDISABLE)
                             : (account.flags & ~UF_ACCOUNTDISABLE);
    DWORD status = admin_store->update_account(account.name, account, nullptr, nullptr);
    return status == NERR_Success ? ADMIN_OK : service_fail(status, account.name);
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
    DWORD status = admin_store->unlock_account(words[0]);
    return status == NERR_Success ? ADMIN_OK : service_fail(status, words[0]);
}

int del(const AdminWords &words, const AdminOptions &)
{
    DWORD status = admin_store->delete_account(words[0]);
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
