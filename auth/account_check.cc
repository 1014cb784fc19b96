#include "auth/account_check.h"

#include <string>

#include "accounts/account_text.h"
#include "accounts/check.h"
#include "accounts/reply_table.h"
#include "auth/auth_status.h"
#include "protocol/replies.h"
#include "config/host.h"
#include "log/trace_log.h"
#include "platform/account_names.h"
#include "platform/account_service.h"
#include "stores/account_stores.h"
#include "platform/last_error.h"

namespace {

// What a refused logon means to the caller: the account's own answers are
// a refusal, anything else a fault of ours that may pass.
struct LogonRefusal {
    DWORD code;
    int status;
    const char *reason;
};

constexpr LogonRefusal LOGON_REFUSALS[] = {
    {ERROR_LOGON_FAILURE, AUTH_REFUSED, "unknown user or wrong password"},
    {ERROR_ACCOUNT_LOCKED_OUT, AUTH_REFUSED, "account locked"},
    {ERROR_ACCOUNT_DISABLED, AUTH_REFUSED, "account disabled"},
};
constexpr LogonRefusal OTHER_LOGON_REFUSAL = {0, AUTH_TEMPORARY,
                                              "account service failure"};

const LogonRefusal &logon_refusal(DWORD code)
{
    for (const LogonRefusal &row : LOGON_REFUSALS)
        if (row.code == code)
            return row;
    return OTHER_LOGON_REFUSAL;
}

// A fault of the service is told by what the store met (a file that keeps
// this process out, a server that does not answer), when it knows.
std::string store_fault_or(const char *reason)
{
    const AccountBackend *store = account_store();
    std::string fault = store != nullptr ? store->last_fault() : "";
    return fault.empty() ? reason : fault;
}

AccountAnswer answer(int status, std::string reason, DWORD code = 0)
{
    AccountAnswer result;
    result.status = status;
    result.reason = std::move(reason);
    result.code = code;
    return result;
}

std::optional<std::string> narrow_member(LPCWSTR wide)
{
    NarrowText narrow;
    if (wide == nullptr || wide[0] == 0 || !to_narrow(wide, narrow))
        return std::nullopt;
    return std::string(narrow.text());
}

// The account as the local computer holds it, with the positive reply
// traced. A check (with its table) and a lookup (without) trace a failure as
// the module's commands do; a missing account is a refusal for the one and
// an unknown user for the other.
AccountAnswer read_account(WideText &user, const char *user_word, const ReplyTable *table)
{
    ServiceBuffer info;
    DWORD result = NetUserGetInfo(nullptr, user.data(), 1, info.out());
    if (result != NERR_Success) {
        if (table != nullptr) {
            reply_for_code(*table, result, user_word);
            log_debug("Failure.");
        } else {
            reply_negative("-ERR User %s not found.", user_word);
        }
        if (result == NERR_UserNotFound)
            return answer(table != nullptr ? AUTH_REFUSED : AUTH_UNKNOWN_USER, "no such account");
        return answer(AUTH_TEMPORARY, store_fault_or("account information unavailable"), result);
    }
    std::optional<std::string> name = narrow_member(info.user_info()->usri1_name);
    if (!name)
        return answer(AUTH_TEMPORARY, "account name not convertible");
    reply_with_user_info(std::string("+OK ") + user_word + " config 0", info.user_info());
    AccountAnswer found = answer(AUTH_OK, "");
    found.name = *name;
    // A home that a reply would leave out is not handed to the mail server
    // either (the reply's trace line says why).
    found.home = narrow_member(info.user_info()->usri1_home_dir);
    if (found.home && !value_is_storable(*found.home))
        found.home.reset();
    return found;
}

}  // namespace

AccountAnswer check_account_password(const char *user, const char *password)
{
    log_info("Performing Windows check");
    log_info("User (%s)", user);
    WideText wide_user;
    if (!to_wide(user, wide_user))
        return answer(AUTH_REFUSED, "user name not convertible");
    log_debug("Pass = xxxx");
    if (password[0] == '\0') {
        reply_negative("-ERR %s does not exist or password incorrect.", user);
        return answer(AUTH_REFUSED, "empty password");
    }
    WideText wide_password;
    if (!to_wide(password, wide_password))
        return answer(AUTH_REFUSED, "password not convertible");
    HostName host = resolve_host();
    if (!host) {
        reply_negative("-DEAD database failure (can't get hostname needed for login - check "
                       "host setting in ini file)");
        return answer(AUTH_TEMPORARY, "no host name");
    }
    HANDLE token = nullptr;
    BOOL accepted = LogonUserW(wide_user.data(), host.get(), wide_password.data(),
                               LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token);
    DWORD error = accepted ? 0 : GetLastError();
    wide_password.wipe();
    if (!accepted) {
        reply_for_code(CHECK_LOGON_TABLE, error, user);
        log_debug("Failure.");
        const LogonRefusal &verdict = logon_refusal(error);
        if (verdict.status == AUTH_TEMPORARY)
            return answer(verdict.status, store_fault_or(verdict.reason), error);
        return answer(verdict.status, verdict.reason, error);
    }
    CloseHandle(token);
    log_debug("Success.");
    return read_account(wide_user, user, &CHECK_ACCOUNT_INFO_TABLE);
}

AccountAnswer look_up_account(const char *user)
{
    log_info("Performing lookup");
    WideText wide_user;
    if (!to_wide(user, wide_user))
        return answer(AUTH_UNKNOWN_USER, "user name not convertible");
    return read_account(wide_user, user, nullptr);
}
