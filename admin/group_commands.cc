// lodgate-admin group list|add|del|members|join|leave
#include <string>

#include "admin/admin.h"
#include "platform/win_types.h"

namespace {

int outcome(DWORD status, const std::string &name)
{
    if (status == NERR_Success)
        return ADMIN_OK;
    return admin_fail(ADMIN_FAILED, "%s: %s", name.c_str(), admin_status_text(status));
}

int list(const AdminWords &, const AdminOptions &options)
{
    std::vector<StoreGroup> groups;
    DWORD status = admin_store->list_groups(groups);
    if (status != NERR_Success)
        return outcome(status, "list");
    if (!options.tsv)
        std::printf("%-20s %7s %-8s %s\n", "GROUP", "MEMBERS", "KIND", "COMMENT");
    for (const StoreGroup &group : groups) {
        const char *comment = group.comment && !group.comment->empty() ? group.comment->c_str()
                                                                       : "-";
        std::printf(options.tsv ? "%s\t%lld\t%s\t%s\n" : "%-20s %7lld %-8s %s\n",
                    group.name.c_str(), static_cast<long long>(group.members),
                    group.builtin ? "builtin" : "local", comment);
    }
    return ADMIN_OK;
}

int add(const AdminWords &words, const AdminOptions &)
{
    return outcome(admin_store->add_group(words[0], std::nullopt), words[0]);
}

// New accounts join the built-in groups; they stay.
int del(const AdminWords &words, const AdminOptions &)
{
    return outcome(admin_store->delete_group(words[0]), words[0]);
}

int members(const AdminWords &words, const AdminOptions &)
{
    std::vector<std::string> names;
    DWORD status = admin_store->group_members(words[0], names);
    if (status != NERR_Success)
        return outcome(status, words[0]);
    for (const std::string &name : names)
        std::printf("%s\n", name.c_str());
    return ADMIN_OK;
}

int join(const AdminWords &words, const AdminOptions &)
{
    DWORD status = admin_store->add_group_members(words[0], {words[1]});
    if (status == ERROR_NO_SUCH_MEMBER)
        return admin_fail(ADMIN_FAILED, "%s: no such user", words[1].c_str());
    if (status == ERROR_MEMBER_IN_ALIAS)
        return admin_fail(ADMIN_FAILED, "%s is already in %s", words[1].c_str(),
                          words[0].c_str());
    return outcome(status, words[0]);
}

int leave(const AdminWords &words, const AdminOptions &)
{
    DWORD status = admin_store->remove_group_member(words[0], words[1]);
    if (status == ERROR_MEMBER_NOT_IN_ALIAS)
        return admin_fail(ADMIN_FAILED, "%s is not in %s", words[1].c_str(), words[0].c_str());
    if (status == ERROR_NO_SUCH_MEMBER)
        return outcome(NERR_UserNotFound, words[1]);
    return outcome(status, words[0]);
}

struct Action {
    const char *name;
    std::size_t words;
    int (*run)(const AdminWords &, const AdminOptions &);
};

constexpr Action ACTIONS[] = {
    {"list", 0, list}, {"add", 1, add},   {"del", 1, del},
    {"members", 1, members}, {"join", 2, join}, {"leave", 2, leave},
};

}  // namespace

int run_group_command(const AdminWords &words, const AdminOptions &options)
{
    if (words.empty())
        return admin_fail(ADMIN_USAGE, "group: an action is missing");
    for (const Action &action : ACTIONS) {
        if (words[0] != action.name)
            continue;
        if (words.size() != action.words + 1)
            return admin_fail(ADMIN_USAGE, "group %s: wrong number of words", action.name);
        return action.run(AdminWords(words.begin() + 1, words.end()), options);
    }
    return admin_fail(ADMIN_USAGE, "group: unknown action %s", words[0].c_str());
}
