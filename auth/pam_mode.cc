#include "auth/pam_mode.h"

#include <cstring>

#include <unistd.h>

#include "auth/account_check.h"
#include "auth/auth_status.h"
#include "auth/failure_report.h"
#include "auth/bounded_read.h"

int run_pam_mode(const CallerEnvironment &caller)
{
    if (!caller.pam_user || caller.pam_user->empty())
        return report_failure(AUTH_REFUSED, nullptr, "PAM_USER is not set");
    const char *user = caller.pam_user->c_str();
    SecretText password;
    if (!read_all_bounded(STDIN_FILENO, PAM_PASSWORD_MAX, password))
        return report_failure(AUTH_REFUSED, user, "cannot read the password");
    // The password ends at the end of input or at its first NUL.
    std::size_t length = ::strnlen(password.text(), password.length);
    if (length > PAM_PASSWORD_MAX)
        return report_failure(AUTH_REFUSED, user, "password too long");
    AccountAnswer account = check_account_password(user, password.text());
    if (account.status != AUTH_OK)
        return report_failure(account.status, user, account.reason.c_str());
    return AUTH_OK;
}
