#include "accountdb/password_hash.h"

#include <cstring>

PasswordCounters password_counters;

namespace {

// Its fields must start zeroed; each use ends with a wipe, so the area
// holds no password or hash between calls.
crypt_data crypt_area;

void wipe_crypt_area()
{
    wipe_memory(&crypt_area, sizeof crypt_area);
}

const char *run_crypt(const char *password, const char *setting)
{
    ++password_counters.crypt_calls;
    return crypt_rn(password, setting, &crypt_area, sizeof crypt_area);
}

// Equal texts, in time that depends only on their lengths.
bool same_text_constant_time(const char *a, const char *b)
{
    std::size_t a_length = std::strlen(a);
    std::size_t b_length = std::strlen(b);
    std::size_t common = a_length < b_length ? a_length : b_length;
    unsigned difference = a_length != b_length ? 1U : 0U;
    for (std::size_t i = 0; i < common; ++i)
        difference |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]);
    return difference == 0;
}

// A setting of the method and cost that new hashes get; only the work of
// hashing against it matters, so it needs no hash part.
const std::string &dummy_setting()
{
    static const std::string setting = [] {
        char salt[CRYPT_GENSALT_OUTPUT_SIZE];
        if (crypt_gensalt_rn(PASSWORD_HASH_PREFIX, 0, nullptr, 0, salt, sizeof salt) != nullptr)
            return std::string(salt);
        return std::string("$y$j9T$F5Jx5fExrKuPp53xLKQ..1");
    }();
    return setting;
}

// "*" and "!" mark accounts without a usable password in shadow files.
bool may_be_hash(const char *stored)
{
    return stored != nullptr && stored[0] != '\0' && stored[0] != '*' && stored[0] != '!';
}

// crypt_checksalt passes sha512crypt and bcrypt, which are weaker than
// yescrypt here, so the list is ours.
constexpr const char *WEAK_PREFIXES[] = {"$1$", "$5$", "$6$", "$2a$", "$2b$", "$2y$", "$md5",
                                         "$sha1$", "_"};

constexpr const char ITOA64[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// yescrypt's "$y$" is followed by the flags and then log2 N, each one
// character of crypt's base-64 alphabet.
int yescrypt_cost(const char *hash)
{
    std::size_t prefix = sizeof PASSWORD_HASH_PREFIX - 1;
    if (std::strncmp(hash, PASSWORD_HASH_PREFIX, prefix) != 0 || std::strlen(hash) < prefix + 2)
        return -1;
    const char *found = std::strchr(ITOA64, hash[prefix + 1]);
    return found != nullptr && *found != '\0' ? static_cast<int>(found - ITOA64) : -1;
}

}  // namespace

bool hash_is_weak(const char *stored_hash)
{
    if (!may_be_hash(stored_hash))
        return false;
    for (const char *prefix : WEAK_PREFIXES)
        if (std::strncmp(stored_hash, prefix, std::strlen(prefix)) == 0)
            return true;
    int cost = yescrypt_cost(stored_hash);
    if (cost >= 0)
        return cost < yescrypt_cost(dummy_setting().c_str());
    return crypt_checksalt(stored_hash) == CRYPT_SALT_METHOD_LEGACY;
}

int hash_password(const char *password, std::string &hash)
{
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn(PASSWORD_HASH_PREFIX, 0, nullptr, 0, salt, sizeof salt) == nullptr)
        return -1;
    const char *out = run_crypt(password, salt);
    int result = -1;
    if (out != nullptr) {
        hash = out;
        result = 0;
    }
    wipe_crypt_area();
    return result;
}

bool verify_password(const char *password, const char *stored_hash)
{
    if (!may_be_hash(stored_hash)) {
        verify_dummy(password);
        return false;
    }
    const char *out = run_crypt(password, stored_hash);
    // A full hash reproduces its own length; a shorter stored value is a bare
    // setting that no password can match.
    if (out == nullptr || std::strlen(out) != std::strlen(stored_hash)) {
        wipe_crypt_area();
        verify_dummy(password);
        return false;
    }
    bool same = same_text_constant_time(out, stored_hash);
    wipe_crypt_area();
    return same;
}

void verify_dummy(const char *password)
{
    ++password_counters.dummy_verifies;
    const std::string &setting = dummy_setting();
    const char *out = run_crypt(password, setting.c_str());
    // Kept in a volatile so that the comparison's time is spent as well.
    volatile bool same = out != nullptr && same_text_constant_time(out, setting.c_str());
    (void)same;
    wipe_crypt_area();
}
