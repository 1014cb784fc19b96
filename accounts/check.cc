#include "accounts/check.h"

#include <string>

#include "accounts/account_text.h"
#include "accounts/reply_table.h"
#include "protocol/replies.h"
#include "config/host.h"
#include "log/trace_log.h"
#include "platform/account_service.h"
#include "platform/last_error.h"

namespace {

constexpr ReplyRow LOGON_ROWS[] = {
    {ERROR_PRIVILEGE_NOT_HELD, "-ERR Incorrect Privilege (Velloc setup may be incorrect).",
     ReplyArgument::NONE},
    {ERROR_LOGON_FAILURE, "-ERR %s does not exist or password incorrect.", ReplyArgument::TEXT},
};

constexpr ReplyRow ACCOUNT_INFO_ROWS[] = {
    {ERROR_ACCESS_DENIED, ACCESS_DENIED_REPLY, ReplyArgument::NONE},
    {NERR_UserNotFound, "-ERR That user does not exist.", ReplyArgument::NONE},
    {NERR_InvalidComputer, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
};

}  // namespace

extern const ReplyTable CHECK_LOGON_TABLE = {LOGON_ROWS,
                                             {0, UNKNOWN_ERROR_HAS_REPLY, ReplyArgument::CODE}};
extern const ReplyTable CHECK_ACCOUNT_INFO_TABLE = {
    ACCOUNT_INFO_ROWS, {0, UNKNOWN_ERROR_HAS_REPLY, ReplyArgument::CODE}};

namespace {

// True when the password is right for the account on host. The token is
// only proof of that and is closed at once.
bool logon(WideText &user, LPCWSTR host, WideText &password, const char *user_word)
{
    HANDLE token = nullptr;
    BOOL accepted = LogonUserW(user.data(), host, password.data(), LOGON32_LOGON_INTERACTIVE,
                               LOGON32_PROVIDER_DEFAULT, &token);
    DWORD error = accepted ? 0 : GetLastError();
    password.wipe();
    if (!accepted) {
        reply_for_code(CHECK_LOGON_TABLE, error, user_word);
        log_debug("Failure.");
        return false;
    }
    CloseHandle(token);
    log_debug("Success.");
    return true;
}

// The account as the local computer holds it, not the resolved host.
int reply_account_info(WideText &user, const char *user_word)
{
    ServiceBuffer info;
    DWORD result = NetUserGetInfo(nullptr, user.data(), 1, info.out());
    if (result != NERR_Success) {
        reply_for_code(CHECK_ACCOUNT_INFO_TABLE, result, user_word);
        log_debug("Failure.");
        return 0;
    }
    reply_with_user_info(std::string("+OK ") + user_word + " config 0", info.user_info());
    return 1;
}

}  // namespace

int do_check(const WordList &words, int command_index)
{
    log_info("Performing Windows check");
    const char *user_word = word_at(words, command_index + 1);
    if (user_word == nullptr)
        return -1;
    log_info("User (%s)", user_word);
    WideText user;
    if (!to_wide(user_word, user))
        return 0;
    const char *password_word = word_at(words, command_index + 2);
    if (password_word == nullptr) {
        reply_negative("-ERR User %s does not exist or password incorrect.", user_word);
        return 0;
    }
    // Whatever log_passwords says, no password reaches the trace log.
    log_debug("Pass = xxxx");
    // An empty password never checks, whatever a service makes of it (some
    // take it for an anonymous logon).
    if (password_word[0] == '\0') {
        reply_for_code(CHECK_LOGON_TABLE, ERROR_LOGON_FAILURE, user_word);
        return 0;
    }
    WideText password;
    if (!to_wide(password_word, password))
        return 0;
    HostName host = resolve_host();
    if (!host) {
        reply_negative("-DEAD database failure (can't get hostname needed for login - check "
                       "host setting in ini file)");
        return 0;
    }
    if (!logon(user, host.get(), password, user_word))
        return 0;
    return reply_account_info(user, user_word);
}
