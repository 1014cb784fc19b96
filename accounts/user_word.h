// The user word that the account commands open with.
#pragma once

#include "accounts/account_text.h"
#include "accounts/reply_table.h"
#include "config/host.h"
#include "protocol/word_list.h"

struct UserWord {
    const char *word = nullptr;  // as the command gave it
    WideText wide;
    HostName host;  // once read_user_account resolved it
};

// Opens an account command: logs "Performing <action>", takes the word
// after the command word, logs "User (<word>)" when traced, and converts
// it. -1 when the word is missing (nothing written); 0 after the reply of a
// failed conversion; 1 when the command goes on.
int open_user_word(const char *action, const WordList &words, int command_index, bool traced,
                   UserWord &user);

// Opens the command as open_user_word does (no User line), resolves the
// host and reads the account there into info. 1 when it was read; -1 or 0
// as open_user_word answers; 0 after table's reply to a failed read (the
// user word filling a row that asks for text).
int read_user_account(const char *action, const WordList &words, int command_index,
                      const ReplyTable &table, UserWord &user, ServiceBuffer &info);
