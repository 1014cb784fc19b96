#include "auth/caller_environment.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

extern char **environ;

namespace {

// Variables that Dovecot's checkpassword driver sets of its own, which its
// reply program may read; AUTH_ covers the request's extra fields.
constexpr std::string_view PASSED_NAMES[] = {
    "SERVICE",  "TCPLOCALIP",  "TCPREMOTEIP",  "TCPLOCALPORT",   "TCPREMOTEPORT",
    "PROTO",    "ORIG_UID",    "MASTER_USER",  "CREDENTIALS_LOOKUP",
};
constexpr std::string_view PASSED_PREFIX = "AUTH_";

bool is_passed_on(std::string_view name)
{
    for (std::string_view passed : PASSED_NAMES)
        if (name == passed)
            return true;
    return name.size() > PASSED_PREFIX.size() && name.starts_with(PASSED_PREFIX);
}

void take_entry(std::string_view entry, CallerEnvironment &caller)
{
    std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos)
        return;
    std::string_view name = entry.substr(0, equals);
    std::string value(entry.substr(equals + 1));
    if (name == "AUTHORIZED")
        caller.authorized = value;
    else if (name == "PAM_USER")
        caller.pam_user = value;
    else if (is_passed_on(name))
        caller.passed_on.emplace_back(entry);
}

}  // namespace

CallerEnvironment take_caller_environment()
{
    CallerEnvironment caller;
    for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        take_entry(*entry, caller);
    clearenv();
    return caller;
}

std::vector<std::string> reply_environment(const CallerEnvironment &caller,
                                           const std::string &user,
                                           const std::optional<std::string> &home, bool lookup)
{
    std::vector<std::string> entries = caller.passed_on;
    entries.push_back("USER=" + user);
    if (home)
        entries.push_back("HOME=" + *home);
    if (lookup)
        entries.emplace_back("AUTHORIZED=2");
    return entries;
}
