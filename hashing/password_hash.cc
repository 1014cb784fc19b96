#include "hashing/password_hash.h"

#include <cstdint>
#include <cstring>
#include <string_view>

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
    note_password_work(PasswordWork::CRYPT_CALL);
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
        if (crypt_gensalt_rn(PASSWORD_HASH_PREFIX, password_hash_cost(), nullptr, 0, salt,
                             sizeof salt) != nullptr)
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

// The decimal number at text up to '$' (or the end), when it has at most 9
// digits; -1 otherwise.
std::int64_t decimal_before_dollar(std::string_view text)
{
    std::size_t end = text.find('$');
    std::string_view digits = text.substr(0, end);
    if (digits.empty() || digits.size() > 9)
        return -1;
    std::int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int itoa64_index(char c)
{
    const char *found = c != '\0' ? std::strchr(ITOA64, c) : nullptr;
    return found != nullptr ? static_cast<int>(found - ITOA64) : -1;
}

constexpr std::int64_t SHA_CRYPT_ROUNDS_MAX = 100000;
constexpr int BCRYPT_COST_MAX = 10;
constexpr std::int64_t SHA1_CRYPT_ROUNDS_MAX = 100000;
constexpr std::int64_t SUN_MD5_ROUNDS_MAX = 50000;
constexpr std::int64_t BSDI_ROUNDS_MAX = 500000;
constexpr int YESCRYPT_N_STEPS_OVER_DEFAULT = 2;  // 4 times the memory and time
constexpr int SCRYPT_N_LOG2_MAX = 13;
constexpr std::string_view SCRYPT_DEFAULT_R_P = "U..../....";

// "flags N r": yescrypt's parameters as new hashes spell them, one character
// each; more characters carry further parameters (p, t, ROM), refused.
bool yescrypt_within(std::string_view params)
{
    std::string_view own = params.substr(0, params.find('$'));
    std::string_view standard(dummy_setting());
    standard.remove_prefix(sizeof PASSWORD_HASH_PREFIX - 1);
    standard = standard.substr(0, standard.find('$'));
    if (own.size() != 3 || standard.size() != 3)
        return false;
    int n = itoa64_index(own[1]);
    int r = itoa64_index(own[2]);
    return n >= 0 && r >= 0 && n <= itoa64_index(standard[1]) + YESCRYPT_N_STEPS_OVER_DEFAULT &&
           r <= itoa64_index(standard[2]);
}

bool sha_crypt_within(std::string_view params)
{
    constexpr std::string_view ROUNDS = "rounds=";
    if (!params.starts_with(ROUNDS))
        return true;  // the default 5000
    std::int64_t rounds = decimal_before_dollar(params.substr(ROUNDS.size()));
    return rounds >= 0 && rounds <= SHA_CRYPT_ROUNDS_MAX;
}

bool bcrypt_within(std::string_view params)
{
    if (params.size() < 3 || params[2] != '$')
        return false;
    std::int64_t cost = decimal_before_dollar(params.substr(0, 2));
    return cost >= 0 && cost <= BCRYPT_COST_MAX;
}

bool sha1_crypt_within(std::string_view params)
{
    std::int64_t rounds = decimal_before_dollar(params);
    return rounds >= 0 && rounds <= SHA1_CRYPT_ROUNDS_MAX;
}

bool sun_md5_within(std::string_view params)
{
    constexpr std::string_view ROUNDS = ",rounds=";
    if (!params.starts_with(ROUNDS))
        return params.starts_with("$");
    std::int64_t rounds = decimal_before_dollar(params.substr(ROUNDS.size()));
    return rounds >= 0 && rounds <= SUN_MD5_ROUNDS_MAX;
}

// Four characters, the low six bits first.
bool bsdi_within(std::string_view params)
{
    if (params.size() < 4)
        return false;
    std::int64_t rounds = 0;
    for (int i = 3; i >= 0; --i) {
        int digit = itoa64_index(params[i]);
        if (digit < 0)
            return false;
        rounds = rounds * 64 + digit;
    }
    return rounds <= BSDI_ROUNDS_MAX;
}

bool scrypt_within(std::string_view params)
{
    return !params.empty() && itoa64_index(params[0]) >= 0 &&
           itoa64_index(params[0]) <= SCRYPT_N_LOG2_MAX &&
           params.substr(1).starts_with(SCRYPT_DEFAULT_R_P);
}

struct CostRule {
    const char *prefix;
    bool (*within)(std::string_view params);  // what follows the prefix
};

constexpr CostRule COST_RULES[] = {
    {"$y$", yescrypt_within},   {"$gy$", yescrypt_within}, {"$5$", sha_crypt_within},
    {"$6$", sha_crypt_within},  {"$2a$", bcrypt_within},   {"$2b$", bcrypt_within},
    {"$2x$", bcrypt_within},    {"$2y$", bcrypt_within},   {"$sha1$", sha1_crypt_within},
    {"$md5", sun_md5_within},   {"_", bsdi_within},        {"$7$", scrypt_within},
};

constexpr std::size_t BCRYPT_PASSWORD_BYTES = 72;

bool starts_with(const char *text, const char *prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

bool hash_cost_is_bounded(const char *stored_hash)
{
    if (!may_be_hash(stored_hash))
        return true;  // never run
    // What libxcrypt does not know or allow it refuses at once.
    int verdict = crypt_checksalt(stored_hash);
    if (verdict != CRYPT_SALT_OK && verdict != CRYPT_SALT_METHOD_LEGACY &&
        verdict != CRYPT_SALT_TOO_CHEAP)
        return true;
    for (const CostRule &rule : COST_RULES)
        if (starts_with(stored_hash, rule.prefix))
            return rule.within(stored_hash + std::strlen(rule.prefix));
    return true;
}

bool hash_is_des_family(const char *stored_hash)
{
    if (!may_be_hash(stored_hash) || stored_hash[0] == '$' || stored_hash[0] == '_')
        return false;
    std::size_t length = std::strlen(stored_hash);
    if (length < 13 || (length - 2) % 11 != 0)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (itoa64_index(stored_hash[i]) < 0)
            return false;
    return true;
}

bool hash_is_unsalted(const char *stored_hash)
{
    return stored_hash != nullptr && starts_with(stored_hash, "$3$");
}

bool hash_truncates_password(const char *stored_hash, std::size_t password_length)
{
    if (hash_is_des_family(stored_hash))
        return true;
    return starts_with(stored_hash, "$2") && password_length > BCRYPT_PASSWORD_BYTES;
}

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
    if (crypt_gensalt_rn(PASSWORD_HASH_PREFIX, password_hash_cost(), nullptr, 0, salt,
                         sizeof salt) == nullptr)
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
    if (!may_be_hash(stored_hash) || !hash_cost_is_bounded(stored_hash)) {
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
    if (hash_is_weak(stored_hash))
        verify_dummy(password);
    return same;
}

void verify_dummy(const char *password)
{
    note_password_work(PasswordWork::DUMMY_VERIFY);
    const std::string &setting = dummy_setting();
    const char *out = run_crypt(password, setting.c_str());
    // Kept in a volatile so that the comparison's time is spent as well.
    volatile bool same = out != nullptr && same_text_constant_time(out, setting.c_str());
    (void)same;
    wipe_crypt_area();
}
