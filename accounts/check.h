// check <user> <pass>: the daemons' password test, by a logon on the host.
#pragma once

#include "protocol/word_list.h"

// -1 when the user word is missing; 1 after the positive reply with the
// account's user information; 0 after a negative reply.
int do_check(const WordList &words, int command_index);
