#include "accounts/user_word.h"

#include "log/trace_log.h"
#include "platform/account_service.h"

int open_user_word(const char *action, const WordList &words, int command_index, bool traced,
                   UserWord &user)
{
    log_info("Performing %s", action);
    user.word = word_at(words, command_index + 1);
    if (user.word == nullptr)
        return -1;
    if (traced)
        log_info("User (%s)", user.word);
    return to_wide(user.word, user.wide);
}

int read_user_account(const char *action, const WordList &words, int command_index,
                      const ReplyTable &table, UserWord &user, ServiceBuffer &info)
{
    if (int opened = open_user_word(action, words, command_index, false, user); opened != 1)
        return opened;
    user.host = resolve_host();
    DWORD result = NetUserGetInfo(user.host.get(), user.wide.data(), 1, info.out());
    if (result != NERR_Success)
        return reply_for_code(table, result, user.word);
    return 1;
}
