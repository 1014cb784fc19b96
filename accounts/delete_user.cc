#include "accounts/delete_user.h"

#include "accounts/reply_table.h"
#include "accounts/user_word.h"
#include "protocol/replies.h"
#include "config/host.h"
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
    UserWord user;
    if (int opened = open_user_word("delete", words, command_index, true, user); opened != 1)
        return opened;
    HostName host = resolve_host();
    DWORD result = NetUserDel(host.get(), user.wide.data());
    if (result != NERR_Success)
        return reply_for_code(DELETE_TABLE, result, nullptr);
    reply_positive("+OK Deleted user succesfully.");
    return 1;
}
