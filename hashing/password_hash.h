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

// Told of each crypt(3) run and each dummy verification (which runs for
// missing accounts and for stored values that are no hash). It does
// nothing, defined alone in password_work.cc, so that a test binary can
// count the work by defining it in its place.
enum class PasswordWork {
    CRYPT_CALL,
    DUMMY_VERIFY,
};
void note_password_work(PasswordWork work);

// The cost that new hashes and the dummy verification get, for
// crypt_gensalt: 0, libxcrypt's default for yescrypt, defined alone in
// password_hash_cost.cc, so that the fuzzing harness, which fuzzes the code
// around the hash rather than the hash, links the cheapest instead.
unsigned long password_hash_cost();

// 0 with the new hash in hash; -1 when libxcrypt fails.
int hash_password(const char *password, std::string &hash);

// True when password matches stored_hash. A stored value that is no hash
// libxcrypt accepts (empty, "*", "!", "!" before a hash, an unknown method)
// or a hash above the cost bound never matches and costs one dummy
// verification instead. A weak hash costs the dummy verification as well,
// so that the time of a check does not tell the method.
bool verify_password(const char *password, const char *stored_hash);

// A check may cost about four times one against a new hash (yescrypt at its
// default cost), and no more: yescrypt N up to 4 times the default with the
// default r and no further parameters, sha256crypt and sha512crypt up to
// 100,000 rounds, bcrypt up to cost 10, sha1crypt up to 100,000 rounds,
// SunMD5 up to 50,000 extra rounds, BSDi up to 500,000 rounds, scrypt up to
// N = 2^13 with the default r and p. Methods of fixed cost pass, and so do
// values libxcrypt refuses without work (unknown or disabled methods).
bool hash_cost_is_bounded(const char *stored_hash);

// DES and bigcrypt: their hashes are 13 characters (and 11 more per further
// 8 characters of bigcrypt), without a '$' or '_' method prefix. Only the
// first 8 characters of the password (of each block) count.
bool hash_is_des_family(const char *stored_hash);

// The NT hash ("$3$"): MD4 of the password with no salt, so that one
// precomputed table serves every account.
bool hash_is_unsalted(const char *stored_hash);

// True when a password of password_length bytes may match stored_hash
// though only a part of it was verified: DES and bigcrypt, and bcrypt past
// its 72 bytes. A logon must never rehash from such a match.
bool hash_truncates_password(const char *stored_hash, std::size_t password_length);

// True for a hash of a method weaker than the default (md5crypt,
// sha256crypt, sha512crypt, bcrypt and others libxcrypt calls legacy) or a
// yescrypt of lower cost; a logon that verifies against one rehashes.
bool hash_is_weak(const char *stored_hash);

// The work of verifying against a hash of the default method and cost, for
// a name that has no account.
void verify_dummy(const char *password);
