// The user word that the account commands open with.
#pragma once

#include "accounts/account_text.h"
#include "protocol/word_list.h"

struct UserWord {
    const char *word = nullptr;  // as the command gave it
    WideText wide;
};

// Opens an account command: logs "Performing <action>", takes the word
// after the command word, logs "User (<word>)" when traced, and converts
// it. -1 when the word is missing (nothing written); 0 after the reply of a
// failed conversion; 1 when the command goes on.
int open_user_word(const char *action, const WordList &words, int command_index, bool traced,
                   UserWord &user);
