// Who lodgate-auth runs as. Started as root it becomes the service user
// that owns the account database; installed setuid that user, it keeps the
// caller's real ids and gives them back before it runs another program.
#pragma once

#include "accountdb/database_files.h"

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file opened later takes their place. 1 on success, 0 otherwise.
int make_standard_descriptors_valid();

// Records the caller's real user id; call before anything changes it.
void remember_caller();

// True when the caller is root or the service user: only they may name
// another configuration file.
bool caller_may_choose_configuration();

// Started with an effective uid of 0: switches group, supplementary groups
// and user to the service user, permanently, and checks that root cannot be
// had back. Otherwise does nothing. 1 on success, 0 when the switch failed.
int leave_root();

// Gives up the service user for good, back to the caller's real ids, before
// another program runs. 1 on success, 0 when the ids did not change.
int return_to_caller_ids();

// Points descriptor 1 away while the account service works (replies reach
// only the trace log, and nothing a library might write there reaches the
// caller) and puts the caller's back. 1 on success.
int hide_standard_output();
int restore_standard_output();
