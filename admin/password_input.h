// Reading a new password for lodgate-admin.
#pragma once

#include "hashing/password_hash.h"

// 0 with the password in secret: one line from standard input when
// from_stdin, else typed twice on the terminal without echo. 1 after a
// message when it cannot be read or the two differ.
int read_new_password(bool from_stdin, SecretText &secret);
