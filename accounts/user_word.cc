#include "accounts/user_word.h"

#include "log/trace_log.h"

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
