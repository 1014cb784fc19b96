// The static module does not link every store: for one it does not link
// (the directory), it hands the whole run to the module beside it that
// does (lodgate-ldap). Arguments are readable by every user, so the
// password word travels in a descriptor that only this user can read; the
// handed arguments say where, and show "xxxx" in its place.
#pragma once

#include "command/option_words.h"
#include "protocol/word_list.h"

// Replaces this process with the program for the configured store. Returns
// only when it could not be started, after the "-DEAD" line.
void start_store_program(const OwnedWordList &arguments, const CommandSpan &span);

// In the program started so: when the arguments begin with the handover,
// drops it and puts the password back in its place. 1 when the arguments
// are ready (with or without a handover), 0 when the handover could not be
// read.
int take_handed_arguments(OwnedWordList &arguments);
