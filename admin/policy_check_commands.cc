// lodgate-admin policy show|set, and check.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <string>

#include "admin/admin.h"
#include "admin/service_user_access.h"
#include "config/store_settings.h"
#include "platform/win_types.h"

namespace {

struct PolicyWord {
    const char *word;  // as the administrator types it
    PolicyKey key;
    std::int64_t maximum;
};

// Bounds keep the lockout arithmetic far from overflow.
constexpr std::int64_t POLICY_SECONDS_MAX = 100LL * 365 * 86400;
constexpr PolicyWord POLICY_WORDS[] = {
    {"min-length", PolicyKey::MIN_PASSWORD_LENGTH, 256},
    {"lockout-threshold", PolicyKey::LOCKOUT_THRESHOLD, 1000000},
    {"lockout-window", PolicyKey::LOCKOUT_WINDOW, POLICY_SECONDS_MAX},
    {"lockout-duration", PolicyKey::LOCKOUT_DURATION, POLICY_SECONDS_MAX},
};

const PolicyWord *find_key(const std::string &word)
{
    for (const PolicyWord &key : POLICY_WORDS)
        if (word == key.word)
            return &key;
    return nullptr;
}

bool parse_value(const std::string &text, std::int64_t maximum, std::int64_t &value)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > maximum)
        return false;
    value = parsed;
    return true;
}

int show(const AdminOptions &options)
{
    for (const PolicyWord &key : POLICY_WORDS) {
        std::int64_t value = 0;
        DWORD status = admin_store->read_policy(key.key, value);
        if (status != NERR_Success)
            return admin_fail(ADMIN_FAILED, "%s", admin_status_text(status));
        std::printf(options.tsv ? "%s\t%lld\n" : "%-18s %lld\n", key.word,
                    static_cast<long long>(value));
    }
    return ADMIN_OK;
}

int set(const AdminWords &words)
{
    const PolicyWord *key = find_key(words[1]);
    if (key == nullptr)
        return admin_fail(ADMIN_USAGE, "policy set: unknown key %s", words[1].c_str());
    std::int64_t value = 0;
    if (!parse_value(words[2], key->maximum, value))
        return admin_fail(ADMIN_USAGE, "policy set %s: a number from 0 to %lld", key->word,
                          static_cast<long long>(key->maximum));
    DWORD status = admin_store->write_policy(key->key, value);
    if (status != NERR_Success)
        return admin_fail(ADMIN_FAILED, "%s", admin_status_text(status));
    return ADMIN_OK;
}

}  // namespace

int run_policy_command(const AdminWords &words, const AdminOptions &options)
{
    if (words.size() == 1 && words[0] == "show")
        return show(options);
    if (words.size() == 3 && words[0] == "set")
        return set(words);
    return admin_fail(ADMIN_USAGE, "policy show | policy set KEY VALUE");
}

int run_check_command(const AdminWords &words, const AdminOptions &options)
{
    if (!words.empty())
        return admin_fail(ADMIN_USAGE, "check takes no words");
    std::vector<StoreFact> facts;
    std::string fault;
    DWORD status = admin_store->check_store(facts, fault);
    // The database is the service user's: the checks of the mail servers
    // run as that user.
    if (std::strcmp(admin_store->name, "sqlite") == 0 && status == NERR_Success) {
        fault = service_user_fault(account_db_configured_path());
        if (!fault.empty())
            status = ERROR_ACCESS_DENIED;
        facts.push_back({"service_user", fault.empty() ? "may use the database" : fault});
    }
    for (const StoreFact &fact : facts) {
        std::string label = fact.key;
        for (char &c : label)
            c = c == '_' ? ' ' : c;
        if (options.tsv)
            std::printf("%s\t%s\n", fact.key.c_str(), fact.value.c_str());
        else
            std::printf("%-15s %s\n", (label + ":").c_str(), fact.value.c_str());
    }
    if (status != NERR_Success)
        return admin_fail(ADMIN_FAILED, "%s", fault.c_str());
    return ADMIN_OK;
}
