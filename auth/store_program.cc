#include "auth/store_program.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "auth/privileges.h"
#include "auth/service_session.h"

namespace {

constexpr const char STORE_PROGRAM[] = LODGATE_AUTH_LDAP_PROGRAM;

// A program that another user could replace would run as the service user.
bool safe_to_run(const char *path, std::string &reason)
{
    std::string directory(path, std::strrchr(path, '/') - path + 1);
    for (const std::string &place : {std::string(path), directory}) {
        struct stat info {};
        if (::stat(place.c_str(), &info) != 0) {
            reason = place + ": " + std::strerror(errno);
            return false;
        }
        if ((info.st_uid != 0 && info.st_uid != geteuid()) || (info.st_mode & 022) != 0) {
            reason = place + ": writable by others than root";
            return false;
        }
    }
    return true;
}

std::vector<std::string> handed_environment(const CallerEnvironment &caller)
{
    std::vector<std::string> entries = caller.passed_on;
    if (caller.authorized)
        entries.push_back("AUTHORIZED=" + *caller.authorized);
    if (caller.pam_user)
        entries.push_back("PAM_USER=" + *caller.pam_user);
    return entries;
}

}  // namespace

std::string run_store_program(char **argv, const CallerEnvironment &caller)
{
    std::string reason;
    if (!safe_to_run(STORE_PROGRAM, reason))
        return "cannot start " + std::string(STORE_PROGRAM) + ": " + reason;
    std::vector<std::string> entries = handed_environment(caller);
    std::vector<char *> environment;
    for (std::string &entry : entries)
        environment.push_back(entry.data());
    environment.push_back(nullptr);
    finish_service_work();
    if (!restore_standard_output())
        return "cannot restore standard output";
    execve(STORE_PROGRAM, argv, environment.data());
    return "cannot start " + std::string(STORE_PROGRAM) + ": " + std::strerror(errno);
}
