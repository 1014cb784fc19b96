// lodgate-auth does not link libldap, whose loading every login would pay:
// for the directory store it hands the run to lodgate-auth-ldap, the same
// program with that store linked in. Its path is fixed when it is built,
// never taken from argv[0], PATH or the environment, since this program
// runs set-user-ID.
#pragma once

#include <string>

#include "auth/caller_environment.h"

// Replaces this process with lodgate-auth-ldap, with the same arguments and
// only the variables taken from the caller. The credentials are not read
// yet (descriptor 3, standard input), so the password never travels in
// arguments or environment. Returns only on failure, with its reason.
std::string run_store_program(char **argv, const CallerEnvironment &caller);
