// Reading what may hold a password from a descriptor, bounded.
#pragma once

#include <cstddef>

#include "platform/secret_text.h"

// Reads descriptor fd to its end into secret (terminated, its length in
// secret.length), taking at most limit + 1 bytes so that the caller can
// tell an over-long input. 1 on success; 0 with errno set when a read
// failed.
int read_all_bounded(int fd, std::size_t limit, SecretText &secret);
