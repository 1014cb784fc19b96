#include "auth/checkpassword.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "auth/account_check.h"
#include "auth/auth_status.h"
#include "auth/failure_report.h"
#include "auth/privileges.h"
#include "auth/bounded_read.h"
#include "auth/service_session.h"
#include "log/trace_log.h"

namespace {

constexpr int NUL_FIELDS = 3;

// Runs program with USER, HOME and, for a lookup, AUTHORIZED=2, as the
// caller; returns only when that failed.
int run_program(char **program, const CallerEnvironment &caller, const AccountAnswer &account,
                bool lookup)
{
    std::vector<std::string> entries =
        reply_environment(caller, account.name, account.home, lookup);
    std::vector<char *> environment;
    for (std::string &entry : entries)
        environment.push_back(entry.data());
    environment.push_back(nullptr);
    finish_service_work();
    if (!restore_standard_output() || !return_to_caller_ids())
        return report_failure(AUTH_TEMPORARY, account.name.c_str(),
                              "cannot return to the caller's ids");
    execve(program[0], program, environment.data());
    return report_failure(AUTH_TEMPORARY, account.name.c_str(), std::strerror(errno));
}

}  // namespace

int parse_checkpassword_input(std::string_view bytes, CheckpasswordInput &input)
{
    input = {};
    if (bytes.size() > CHECKPASSWORD_INPUT_MAX)
        return 0;
    std::string_view fields[NUL_FIELDS];
    std::size_t start = 0;
    for (std::string_view &field : fields) {
        std::size_t end = bytes.find('\0', start);
        if (end == std::string_view::npos)
            return 0;
        field = bytes.substr(start, end - start);
        start = end + 1;
    }
    if (start != bytes.size() || fields[0].empty())
        return 0;
    input.user = fields[0];
    input.password = fields[1];
    return 1;
}

int run_checkpassword(char **program, const CallerEnvironment &caller)
{
    SecretText bytes;
    if (!read_all_bounded(CHECKPASSWORD_INPUT_FD, CHECKPASSWORD_INPUT_MAX, bytes))
        return report_failure(AUTH_MALFORMED, nullptr, "cannot read descriptor 3");
    CheckpasswordInput input;
    if (!parse_checkpassword_input(std::string_view(bytes.bytes.data(), bytes.length), input))
        return report_failure(AUTH_MALFORMED, nullptr, "malformed input on descriptor 3");
    std::string user(input.user);
    bool lookup = input.password.empty() && caller.authorized == "1";
    // The password ends in the NUL that the input itself carries.
    AccountAnswer account = lookup ? look_up_account(user.c_str())
                                   : check_account_password(user.c_str(), input.password.data());
    if (account.status != AUTH_OK)
        return report_failure(account.status, user.c_str(), account.reason.c_str());
    return run_program(program, caller, account, lookup);
}
