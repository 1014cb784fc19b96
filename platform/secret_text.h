// Passwords in memory: the one way this program wipes what held a secret,
// and the narrow copy of a password that the account service hands on.
#pragma once

#include <cstddef>
#include <vector>

// Longest password in UTF-8 bytes that any store takes (libxcrypt's limit,
// less its terminator).
constexpr std::size_t PASSWORD_BYTES_MAX = 511;

// Overwrites size bytes in a way the compiler may not drop.
void wipe_memory(void *memory, std::size_t size);

// A narrow copy of a password. The buffer is sized once so that the text is
// never moved, and it is wiped when the record goes.
struct SecretText {
    std::vector<char> bytes;  // terminated text
    std::size_t length = 0;

    SecretText() = default;
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;
    ~SecretText()
    {
        if (!bytes.empty())
            wipe_memory(bytes.data(), bytes.size());
    }
    const char *text() const { return bytes.empty() ? "" : bytes.data(); }
};
