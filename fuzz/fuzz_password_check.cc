// The account database's password check over stored values that are random
// or mutated from real hashes of one password. A value verifies only when
// crypt reproduces it exactly from the password; no mutation of a real hash
// may verify unless it is the same hash again (or the same bcrypt hash
// under another of its variant letters, which is one hash).
//
// Input: password NUL stored value (raw), or one selector byte (1 to the
// number of known hashes) and edits to that hash: byte pairs of position
// and new byte, a zero position inserting and 0xFF deleting.
#include <crypt.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hashing/password_hash.h"
#include "fuzz/fuzz_sandbox.h"

namespace {

constexpr char KNOWN_PASSWORD[] = "correct horse battery staple";

std::vector<std::string> known_hashes;
std::vector<std::string> yescrypt_parameters;

std::string make_hash(const char *prefix, unsigned long cost)
{
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_data area{};
    if (crypt_gensalt_rn(prefix, cost, nullptr, 0, salt, sizeof salt) == nullptr)
        fuzz_fail("making a known hash", prefix);
    const char *out = crypt_rn(KNOWN_PASSWORD, salt, &area, sizeof area);
    if (out == nullptr)
        fuzz_fail("making a known hash", salt);
    return out;
}

// The parameter field of a "$y$<parameters>$..." value.
std::string yescrypt_field(const std::string &value)
{
    std::size_t end = value.find('$', 3);
    return end == std::string::npos ? std::string() : value.substr(3, end - 3);
}

unsigned long number_after(const std::string &value, const char *marker)
{
    std::size_t at = value.find(marker);
    if (at == std::string::npos)
        return 0;
    return std::strtoul(value.c_str() + at + std::strlen(marker), nullptr, 10);
}

// Values whose cost field asks for far more work than our own hashes would
// only make the run slow (or exhaust memory); they are left out.
bool cost_within_bounds(const std::string &value)
{
    if (value.compare(0, 3, "$y$") == 0) {
        std::string field = yescrypt_field(value);
        for (const std::string &known : yescrypt_parameters)
            if (field == known)
                return true;
        return false;
    }
    if (value.compare(0, 3, "$7$") == 0 || value.compare(0, 4, "$gy$") == 0 ||
        value[0] == '_')
        return false;
    if (value.size() >= 6 && value.compare(0, 2, "$2") == 0 && value[3] == '$')
        return std::strtoul(value.c_str() + 4, nullptr, 10) <= 6;
    if (number_after(value, "rounds=") > 5000 || number_after(value, "$sha1$") > 50000)
        return false;
    return true;
}

std::string apply_edits(std::string value, const std::uint8_t *edits, std::size_t size)
{
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        std::size_t position = edits[i];
        if (position == 0) {
            value.insert(value.begin(), static_cast<char>(edits[i + 1]));
        } else if (position - 1 < value.size()) {
            if (edits[i + 1] == 0xFF)
                value.erase(position - 1, 1);
            else
                value[position - 1] = static_cast<char>(edits[i + 1]);
        }
    }
    return value.substr(0, value.find('\0'));
}

bool same_bcrypt_hash(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && a.size() > 4 && a.compare(0, 2, "$2") == 0 &&
           b.compare(0, 2, "$2") == 0 && a.compare(3, std::string::npos, b, 3) == 0;
}

// What verify_password must answer: crypt reproduces the value exactly.
bool reproduces(const std::string &password, const std::string &stored)
{
    if (stored.empty() || stored[0] == '*' || stored[0] == '!')
        return false;
    crypt_data area{};
    const char *out = crypt_rn(password.c_str(), stored.c_str(), &area, sizeof area);
    return out != nullptr && stored == out;
}

void check(const std::string &password, const std::string &stored, const std::string *original)
{
    if (!cost_within_bounds(stored))
        return;
    bool verified = verify_password(password.c_str(), stored.c_str());
    if (verified != reproduces(password, stored))
        fuzz_fail("a value verifies exactly when crypt reproduces it", stored.c_str());
    if (!verified)
        return;
    bool known = false;
    for (const std::string &hash : known_hashes)
        known = known || hash == stored || same_bcrypt_hash(hash, stored);
    if (password != KNOWN_PASSWORD || !known)
        fuzz_fail("only the real hashes of the password verify", stored.c_str());
    if (original != nullptr && stored != *original && !same_bcrypt_hash(stored, *original))
        fuzz_fail("no mutated hash verifies", stored.c_str());
}

}  // namespace

// The harness fuzzes the code around the hash, not yescrypt: new hashes and
// the dummy verification get the cheapest cost, so that a run tries
// hundreds of stored values a second instead of a dozen.
unsigned long password_hash_cost()
{
    return 1;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string ours;
    if (hash_password(KNOWN_PASSWORD, ours) != 0)
        fuzz_fail("hash_password makes a hash", nullptr);
    known_hashes = {ours,
                    make_hash("$y$", 1),
                    make_hash("$6$", 1000),
                    make_hash("$5$", 1000),
                    make_hash("$2b$", 4),
                    make_hash("$1$", 0),
                    make_hash("", 0)};
    for (const std::string &hash : known_hashes)
        if (hash.compare(0, 3, "$y$") == 0)
            yescrypt_parameters.push_back(yescrypt_field(hash));
    for (const std::string &hash : known_hashes)
        if (!verify_password(KNOWN_PASSWORD, hash.c_str()))
            fuzz_fail("every known hash verifies", hash.c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    std::size_t selector = bytes[0];
    if (selector >= 1 && selector <= known_hashes.size()) {
        const std::string &original = known_hashes[selector - 1];
        check(KNOWN_PASSWORD, apply_edits(original, bytes + 1, size - 1), &original);
        return 0;
    }
    std::string input(reinterpret_cast<const char *>(bytes), size);
    std::size_t split = input.find('\0');
    std::string password = split == std::string::npos ? KNOWN_PASSWORD : input.substr(0, split);
    std::string stored = split == std::string::npos ? input : input.substr(split + 1);
    check(password, stored.substr(0, stored.find('\0')), nullptr);
    return 0;
}
