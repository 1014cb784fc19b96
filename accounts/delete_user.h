// del <user>: removes an account from the host; its home directory stays.
#pragma once

#include "protocol/word_list.h"

// -1 when the user word is missing; 1 after the account was removed and
// the positive reply written; 0 after any other reply.
int delete_user(const WordList &words, int command_index);
