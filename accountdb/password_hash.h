// Password hashes through libxcrypt: new ones are yescrypt ("$y$") at its
// default cost; any hash that libxcrypt accepts verifies, so hashes taken
// from /etc/shadow work as they are.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <crypt.h>

constexpr const char PASSWORD_HASH_PREFIX[] = "$y$";
// Longest password in UTF-8 bytes; libxcrypt's limit counts the terminator.
constexpr std::size_t PASSWORD_BYTES_MAX = CRYPT_MAX_PASSPHRASE_SIZE - 1;

// A narrow copy of a password. The buffer is sized once so that the text is
// never moved, and it is wiped when the record goes.
struct SecretText {
    std::vector<char> bytes;  // terminated text
    std::size_t length = 0;

    SecretText() = default;
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;
    ~SecretText();
    const char *text() const { return bytes.empty() ? "" : bytes.data(); }
};

// Counted so that tests can see the work done; the dummy verification runs
// for missing accounts and for stored values that are no hash.
struct PasswordCounters {
    long crypt_calls = 0;
    long dummy_verifies = 0;
};
extern PasswordCounters password_counters;

// 0 with the new hash in hash; -1 when libxcrypt fails.
int hash_password(const char *password, std::string &hash);

// True when password matches stored_hash. A stored value that is no hash
// libxcrypt accepts (empty, "*", "!", "!" before a hash, an unknown method)
// never matches and costs one dummy verification instead.
bool verify_password(const char *password, const char *stored_hash);

// True for a hash of a method weaker than the default (md5crypt,
// sha256crypt, sha512crypt, bcrypt and others libxcrypt calls legacy) or a
// yescrypt of lower cost; a logon that verifies against one rehashes.
bool hash_is_weak(const char *stored_hash);

// The work of verifying against a hash of the default method and cost, for
// a name that has no account.
void verify_dummy(const char *password);
