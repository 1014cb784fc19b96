#include "auth/account_check.h"

#include <string>

#include "accounts/account_text.h"
#include "accounts/check.h"
#include "auth/auth_status.h"
#include "log/trace_log.h"
#include "platform/account_names.h"
#include "platform/account_service.h"
#include "protocol/replies.h"
#include "stores/account_stores.h"

namespace {

// A fault of the service is told by what the store met (a file that keeps
// this process out, a server that does not answer), when it knows.
std::string store_fault_or(const char *reason)
{
    const AccountBackend *store = account_store();
    std::string fault = store != nullptr ? store->last_fault() : "";
    return fault.empty() ? reason : fault;
}

AccountAnswer answer(int status, std::string reason)
{
    AccountAnswer result;
    result.status = status;
    result.reason = std::move(reason);
    return result;
}

std::optional<std::string> narrow_member(LPCWSTR wide)
{
    NarrowText narrow;
    if (wide == nullptr || wide[0] == 0 || !to_narrow(wide, narrow))
        return std::nullopt;
    return std::string(narrow.text());
}

// The account's own form of its name, and its home: one that a reply would
// leave out is not handed to the mail server either (the reply's trace
// line says why).
AccountAnswer found(const USER_INFO_1 &info)
{
    std::optional<std::string> name = narrow_member(info.usri1_name);
    if (!name)
        return answer(AUTH_TEMPORARY, "account name not convertible");
    AccountAnswer account = answer(AUTH_OK, "");
    account.name = *name;
    account.home = narrow_member(info.usri1_home_dir);
    if (account.home && !value_is_storable(*account.home))
        account.home.reset();
    return account;
}

}  // namespace

AccountAnswer check_account_password(const char *user, const char *password)
{
    CheckOutcome outcome;
    check_password(user, password, outcome);
    if (outcome.result == CheckResult::RIGHT) {
        AccountAnswer account = found(*outcome.account.user_info());
        if (account.status == AUTH_OK)
            reply_to_check(user, outcome);
        return account;
    }
    reply_to_check(user, outcome);
    if (outcome.result == CheckResult::REFUSED)
        return answer(AUTH_REFUSED, outcome.reason);
    bool of_service = outcome.step == CheckStep::LOGON || outcome.step == CheckStep::ACCOUNT_READ;
    return answer(AUTH_TEMPORARY, of_service ? store_fault_or(outcome.reason) : outcome.reason);
}

AccountAnswer look_up_account(const char *user)
{
    log_info("Performing lookup");
    WideText wide_user;
    if (!to_wide(user, wide_user))
        return answer(AUTH_UNKNOWN_USER, "user name not convertible");
    ServiceBuffer info;
    DWORD result = NetUserGetInfo(nullptr, wide_user.data(), 1, info.out());
    if (result != NERR_Success) {
        reply_negative("-ERR User %s not found.", user);
        if (result == NERR_UserNotFound)
            return answer(AUTH_UNKNOWN_USER, "no such account");
        return answer(AUTH_TEMPORARY, store_fault_or("account information unavailable"));
    }
    AccountAnswer account = found(*info.user_info());
    if (account.status == AUTH_OK)
        reply_with_user_info(std::string("+OK ") + user + " config 0", info.user_info());
    return account;
}
