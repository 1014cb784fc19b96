#include "accounts/check.h"

#include <string>

#include "config/host.h"
#include "log/trace_log.h"
#include "platform/account_service.h"
#include "platform/last_error.h"
#include "protocol/replies.h"

namespace {

constexpr ReplyRow LOGON_ROWS[] = {
    {ERROR_PRIVILEGE_NOT_HELD, "-ERR Incorrect Privilege (Velloc setup may be incorrect).",
     ReplyArgument::NONE},
    {ERROR_LOGON_FAILURE, "-ERR %s does not exist or password incorrect.", ReplyArgument::TEXT},
};
constexpr ReplyTable LOGON_TABLE = {LOGON_ROWS, {0, UNKNOWN_ERROR_HAS_REPLY, ReplyArgument::CODE}};

constexpr ReplyRow ACCOUNT_INFO_ROWS[] = {
    {ERROR_ACCESS_DENIED, ACCESS_DENIED_REPLY, ReplyArgument::NONE},
    {NERR_UserNotFound, "-ERR That user does not exist.", ReplyArgument::NONE},
    {NERR_InvalidComputer, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
};
constexpr ReplyTable ACCOUNT_INFO_TABLE = {ACCOUNT_INFO_ROWS,
                                           {0, UNKNOWN_ERROR_HAS_REPLY, ReplyArgument::CODE}};

constexpr DWORD ANY_OTHER_CODE = 0;

// What a refused logon or a failed read means to whoever asked: the
// account's own answers are a refusal, anything else a fault that may pass.
struct CheckFailure {
    CheckStep step;
    DWORD code;
    CheckResult result;
    const char *reason;
};

constexpr CheckFailure CHECK_FAILURES[] = {
    {CheckStep::LOGON, ERROR_LOGON_FAILURE, CheckResult::REFUSED, "unknown user or wrong password"},
    {CheckStep::LOGON, ERROR_ACCOUNT_LOCKED_OUT, CheckResult::REFUSED, "account locked"},
    {CheckStep::LOGON, ERROR_ACCOUNT_DISABLED, CheckResult::REFUSED, "account disabled"},
    {CheckStep::LOGON, ANY_OTHER_CODE, CheckResult::FAULT, "account service failure"},
    {CheckStep::ACCOUNT_READ, NERR_UserNotFound, CheckResult::REFUSED, "no such account"},
    {CheckStep::ACCOUNT_READ, ANY_OTHER_CODE, CheckResult::FAULT,
     "account information unavailable"},
};

int end_check(CheckOutcome &outcome, CheckStep step, CheckResult result, const char *reason,
              DWORD code = 0)
{
    outcome.step = step;
    outcome.result = result;
    outcome.reason = reason;
    outcome.code = code;
    return result == CheckResult::RIGHT ? 1 : 0;
}

int end_failed(CheckOutcome &outcome, CheckStep step, DWORD code)
{
    for (const CheckFailure &row : CHECK_FAILURES)
        if (row.step == step && (row.code == code || row.code == ANY_OTHER_CODE))
            return end_check(outcome, step, row.result, row.reason, code);
    return end_check(outcome, step, CheckResult::FAULT, "", code);
}

// The logon proves the password; its token lives until the account is
// read, so that a service that kept what it verified answers the read
// from it.
int log_on_and_read(LPCWSTR user, LPCWSTR host, WideText &password, CheckOutcome &outcome)
{
    HANDLE token = nullptr;
    BOOL accepted = LogonUserW(user, host, password.data(), LOGON32_LOGON_INTERACTIVE,
                               LOGON32_PROVIDER_DEFAULT, &token);
    DWORD error = accepted ? 0 : GetLastError();
    password.wipe();
    if (!accepted)
        return end_failed(outcome, CheckStep::LOGON, error);
    log_debug("Success.");
    // The account as the local computer holds it, not the resolved host.
    DWORD result = NetUserGetInfo(nullptr, user, 1, outcome.account.out());
    CloseHandle(token);
    if (result != NERR_Success) {
        outcome.account.release();
        return end_failed(outcome, CheckStep::ACCOUNT_READ, result);
    }
    return end_check(outcome, CheckStep::ACCOUNT_READ, CheckResult::RIGHT, "");
}

}  // namespace

int check_password(const char *user, const char *password, CheckOutcome &outcome)
{
    outcome.account.release();
    log_info("Performing Windows check");
    if (user == nullptr) {
        end_check(outcome, CheckStep::NO_USER, CheckResult::REFUSED, "no user name");
        return -1;
    }
    log_info("User (%s)", user);
    WideText wide_user;
    DWORD error = 0;
    if (!convert_to_wide(user, wide_user, error))
        return end_check(outcome, CheckStep::CONVERSION, CheckResult::REFUSED,
                         "user name not convertible", error);
    if (password == nullptr)
        return end_check(outcome, CheckStep::NO_PASSWORD, CheckResult::REFUSED, "no password");
    // Whatever log_passwords says, no password reaches the trace log.
    log_debug("Pass = xxxx");
    // An empty password never checks, whatever a service makes of it (some
    // take it for an anonymous logon).
    if (password[0] == '\0')
        return end_check(outcome, CheckStep::EMPTY_PASSWORD, CheckResult::REFUSED,
                         "empty password", ERROR_LOGON_FAILURE);
    WideText wide_password;
    if (!convert_to_wide(password, wide_password, error))
        return end_check(outcome, CheckStep::CONVERSION, CheckResult::REFUSED,
                         "password not convertible", error);
    HostName host = resolve_host();
    if (!host)
        return end_check(outcome, CheckStep::NO_HOST, CheckResult::FAULT, "no host name");
    return log_on_and_read(wide_user.data(), host.get(), wide_password, outcome);
}

int reply_to_check(const char *user, const CheckOutcome &outcome)
{
    switch (outcome.step) {
    case CheckStep::NO_USER:
        return -1;
    case CheckStep::CONVERSION:
        return reply_for_conversion_error(outcome.code);
    case CheckStep::NO_PASSWORD:
        reply_negative("-ERR User %s does not exist or password incorrect.", user);
        return 0;
    case CheckStep::EMPTY_PASSWORD:
        return reply_for_code(LOGON_TABLE, outcome.code, user);
    case CheckStep::NO_HOST:
        reply_negative("-DEAD database failure (can't get hostname needed for login - check "
                       "host setting in ini file)");
        return 0;
    case CheckStep::LOGON:
        reply_for_code(LOGON_TABLE, outcome.code, user);
        break;
    case CheckStep::ACCOUNT_READ:
        if (outcome.result == CheckResult::RIGHT) {
            reply_with_user_info(std::string("+OK ") + user + " config 0",
                                 outcome.account.user_info());
            return 1;
        }
        reply_for_code(ACCOUNT_INFO_TABLE, outcome.code, user);
        break;
    }
    log_debug("Failure.");
    return 0;
}

int do_check(const WordList &words, int command_index)
{
    const char *user = word_at(words, command_index + 1);
    CheckOutcome outcome;
    if (check_password(user, word_at(words, command_index + 2), outcome) < 0)
        return -1;
    return reply_to_check(user, outcome);
}
