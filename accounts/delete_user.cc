#include "accounts/delete_user.h"

#include "accounts/account_text.h"
#include "accounts/reply_table.h"
#include "protocol/replies.h"
#include "config/host.h"
#include "log/trace_log.h"
#include "platform/account_service.h"

namespace {

// The daemons read a missing account as a "+OK" line, yet it is the
// command's one negative reply.
constexpr ReplyRow DELETE_ROWS[] = {
    {ERROR_ACCESS_DENIED, ACCESS_DENIED_REPLY, ReplyArgument::NONE},
    {NERR_UserNotFound, "+OK User account not found.", ReplyArgument::NONE},
    {NERR_NotPrimary, NOT_PRIMARY_REPLY, ReplyArgument::NONE},
    {NERR_InvalidComputer, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
};
constexpr ReplyTable DELETE_TABLE = {DELETE_ROWS, {0, UNKNOWN_ERROR_REPLY, ReplyArgument::CODE}};

}  // namespace

int delete_user(const WordList &words, int command_index)
{
    log_info("Performing delete");
    const char *user_word = word_at(words, command_index + 1);
    if (user_word == nullptr)
        return -1;
    log_info("User (%s)", user_word);
    WideText user;
    if (!to_wide(user_word, user))
        return 0;
    HostName host = resolve_host();
    DWORD result = NetUserDel(host.get(), user.data());
    if (result != NERR_Success)
        return reply_for_code(DELETE_TABLE, result, nullptr);
    reply_positive("+OK Deleted user succesfully.");
    return 1;
}
