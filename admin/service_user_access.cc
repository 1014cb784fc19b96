#include "admin/service_user_access.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include "accountdb/database_files.h"

namespace {

constexpr unsigned MAY_READ = 4;
constexpr unsigned MAY_WRITE = 2;
constexpr unsigned MAY_SEARCH = 1;

struct ServiceUser {
    uid_t uid = 0;
    std::vector<gid_t> groups;
};

bool find_service_user(ServiceUser &user)
{
    struct passwd *entry = getpwnam(SERVICE_USER);
    if (entry == nullptr)
        return false;
    user.uid = entry->pw_uid;
    int count = 64;
    user.groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(entry->pw_name, entry->pw_gid, user.groups.data(), &count) < 0) {
        user.groups.resize(static_cast<std::size_t>(count));
        getgrouplist(entry->pw_name, entry->pw_gid, user.groups.data(), &count);
    }
    user.groups.resize(static_cast<std::size_t>(count));
    return true;
}

bool user_may(const ServiceUser &user, const struct stat &info, unsigned wanted)
{
    if (user.uid == 0)
        return true;
    int shift = info.st_uid == user.uid ? 6
                : std::count(user.groups.begin(), user.groups.end(), info.st_gid) > 0 ? 3
                                                                                        : 0;
    return ((info.st_mode >> shift) & wanted) == wanted;
}

std::string refusal(const char *action, const std::string &file, const struct stat &info)
{
    const struct passwd *owner = getpwuid(info.st_uid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return std::string("the ") + SERVICE_USER + " user cannot " + action + " " + file +
           " (owner " + (owner != nullptr ? owner->pw_name : std::to_string(info.st_uid)) +
           ", mode " + mode + ")";
}

}  // namespace

std::string service_user_fault(const std::string &database)
{
    ServiceUser user;
    if (!find_service_user(user))
        return "";
    bool all_there = true;
    for (const char *suffix : {"", "-wal", "-shm"}) {
        std::string file = database + suffix;
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0)
            all_there = false;
        else if (!user_may(user, info, MAY_READ | MAY_WRITE))
            return refusal("write", file, info);
    }
    std::string::size_type slash = database.rfind('/');
    std::string directory = slash == std::string::npos ? "." : database.substr(0, slash + 1);
    struct stat info {};
    unsigned wanted = all_there ? MAY_SEARCH : MAY_WRITE | MAY_SEARCH;
    if (::stat(directory.c_str(), &info) == 0 && !user_may(user, info, wanted))
        return refusal(all_there ? "enter" : "create files in", directory, info);
    return "";
}
