// Bytes that may hold a password: wiped when they go.
#pragma once

#include <cstddef>
#include <string>

#include "accounts/account_text.h"

struct SecretText {
    std::string bytes;

    SecretText() = default;
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;
    ~SecretText() { wipe(); }

    void wipe()
    {
        wipe_memory(bytes.data(), bytes.size());
        bytes.clear();
    }
};

// Reads descriptor fd to its end into secret, taking at most limit + 1
// bytes so that the caller can tell an over-long input. 1 on success; 0
// with errno set when a read failed.
int read_all_bounded(int fd, std::size_t limit, SecretText &secret);
