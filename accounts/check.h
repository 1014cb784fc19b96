// check <user> <pass>: the daemons' password test, by a logon on the host.
#pragma once

#include "accounts/reply_table.h"
#include "protocol/word_list.h"

// -1 when the user word is missing; 1 after the positive reply with the
// account's user information; 0 after a negative reply.
int do_check(const WordList &words, int command_index);

// The replies of a check's logon and of its account read; lodgate-auth
// traces the same texts, so that its lines read like the module's.
extern const ReplyTable CHECK_LOGON_TABLE;
extern const ReplyTable CHECK_ACCOUNT_INFO_TABLE;
