// Password hashes through libxcrypt: new ones are yescrypt ("$y$") at its
// default cost; any hash that libxcrypt accepts verifies, so hashes taken
// from /etc/shadow work as they are.
#pragma once

#include <cstddef>
#include <string>

#include <crypt.h>

#include "platform/secret_text.h"

constexpr const char PASSWORD_HASH_PREFIX[] = "$y$";
// libxcrypt's limit counts the terminator.
static_assert(PASSWORD_BYTES_MAX == CRYPT_MAX_PASSPHRASE_SIZE - 1);

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
