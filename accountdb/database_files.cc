#include "accountdb/database_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *FILE_SUFFIXES[] = {"", "-wal", "-shm"};

std::string directory_of(const std::string &path)
{
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// The module is linked static, where the C library's user lookup cannot
// load its modules: the names come from /etc/passwd, else the number.
std::string user_name_of(uid_t uid)
{
    std::string name = "uid " + std::to_string(uid);
    std::FILE *passwd = std::fopen("/etc/passwd", "re");
    if (passwd == nullptr)
        return name;
    char line[1024];
    while (std::fgets(line, sizeof line, passwd) != nullptr) {
        char *colon = std::strchr(line, ':');
        char *second = colon != nullptr ? std::strchr(colon + 1, ':') : nullptr;
        if (second != nullptr && std::strtoul(second + 1, nullptr, 10) == uid &&
            second[1] >= '0' && second[1] <= '9') {
            name.assign(line, colon);
            break;
        }
    }
    std::fclose(passwd);
    return name;
}

std::string refusal(const std::string &file, const struct stat &info)
{
    return file + ": permission denied (owner " + user_name_of(info.st_uid) +
           ", this process runs as " + user_name_of(geteuid()) + ")";
}

}  // namespace

void adopt_directory_owner(const std::string &path)
{
    struct stat directory {};
    if (geteuid() != 0 || ::stat(directory_of(path).c_str(), &directory) != 0 ||
        directory.st_uid == 0)
        return;
    for (const char *suffix : FILE_SUFFIXES) {
        std::string file = path + suffix;
        struct stat info {};
        if (::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == 0)
            ::lchown(file.c_str(), directory.st_uid, directory.st_gid);
    }
}

std::string database_permission_fault(const std::string &path)
{
    bool all_there = true;
    for (const char *suffix : FILE_SUFFIXES) {
        std::string file = path + suffix;
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0)
            all_there = false;
        else if (faccessat(AT_FDCWD, file.c_str(), R_OK | W_OK, AT_EACCESS) != 0)
            return refusal(file, info);
    }
    // SQLite makes the files that are missing beside the database.
    std::string directory = directory_of(path);
    struct stat info {};
    int needed = all_there ? X_OK : W_OK | X_OK;
    if (::stat(directory.c_str(), &info) == 0 &&
        faccessat(AT_FDCWD, directory.c_str(), needed, AT_EACCESS) != 0)
        return refusal(directory, info);
    return "";
}
