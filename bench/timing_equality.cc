// Whether a failed logon tells why it failed by its time: a missing name, a
// wrong password, a locked stored value ("!" before the hash), a weak
// (md5crypt) hash and a disabled account, each through LogonUserW over a
// real account database, interleaved in random order; first with the
// lockout policy off, then on (with a threshold no run reaches, so that every
// attempt is counted and none refused). Prints the median of each and the
// largest difference between two medians relative to the smaller, per round.
// Usage: timing_equality [trials per kind]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "accountdb/account_db.h"
#include "accountdb/user_records.h"
#include "platform/account_service.h"
#include "stores/account_stores.h"

namespace {

constexpr const char *KINDS[] = {"missing name", "wrong password", "locked stored value",
                                 "weak hash", "disabled account"};
constexpr int KIND_COUNT = 5;
constexpr const char16_t *USERS[] = {u"nobody", u"present", u"locked", u"weak", u"disabled"};

constexpr std::int64_t UNREACHED_THRESHOLD = 1000000000;

bool add_user(const char16_t *name, const char16_t *password, DWORD extra_flags = 0)
{
    USER_INFO_1 info{};
    info.usri1_name = const_cast<LPWSTR>(name);
    info.usri1_password = const_cast<LPWSTR>(password);
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_flags = UF_SCRIPT | UF_NORMAL_ACCOUNT | extra_flags;
    return NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr) == NERR_Success;
}

// md5crypt of "right-password".
constexpr const char WEAK_HASH_SQL[] =
    "UPDATE user_accounts SET password_hash = '$1$abcdefgh$geypP/1T.AOziy0GdX2uG1'"
    " WHERE name = 'weak'";

bool set_up(const std::string &path)
{
    StoreSettingFault fault;
    return account_db_open(path.c_str()) == NERR_Success &&
           choose_account_store("sqlite", StoreSettings{}, fault) == NERR_Success &&
           add_user(u"present", u"right-password") && add_user(u"locked", u"right-password") &&
           add_user(u"weak", u"right-password") &&
           add_user(u"disabled", u"right-password", UF_ACCOUNTDISABLE) &&
           sqlite3_exec(account_db_connection(),
                        "UPDATE user_accounts SET password_hash = '!' || password_hash"
                        " WHERE name = 'locked'",
                        nullptr, nullptr, nullptr) == SQLITE_OK &&
           sqlite3_exec(account_db_connection(), WEAK_HASH_SQL, nullptr, nullptr, nullptr) ==
               SQLITE_OK;
}

double logon_microseconds(int kind)
{
    HANDLE token = nullptr;
    auto start = std::chrono::steady_clock::now();
    BOOL accepted = LogonUserW(USERS[kind], nullptr, u"wrong-password", LOGON32_LOGON_INTERACTIVE,
                               LOGON32_PROVIDER_DEFAULT, &token);
    auto stop = std::chrono::steady_clock::now();
    if (accepted) {
        std::fprintf(stderr, "a failed logon was accepted\n");
        std::exit(1);
    }
    return std::chrono::duration<double, std::micro>(stop - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void run_round(const char *title, int trials)
{
    std::vector<int> order;
    for (int i = 0; i < trials; ++i)
        for (int kind = 0; kind < KIND_COUNT; ++kind)
            order.push_back(kind);
    std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    std::vector<double> times[KIND_COUNT];
    for (int kind = 0; kind < KIND_COUNT; ++kind)
        logon_microseconds(kind);  // warm caches and the prepared statements
    for (int kind : order)
        times[kind].push_back(logon_microseconds(kind));
    std::printf("%s\n", title);
    double medians[KIND_COUNT];
    for (int kind = 0; kind < KIND_COUNT; ++kind) {
        medians[kind] = median(times[kind]);
        std::printf("  %-20s %6d trials, median %10.1f us\n", KINDS[kind], trials, medians[kind]);
    }
    double low = *std::min_element(medians, medians + KIND_COUNT);
    double high = *std::max_element(medians, medians + KIND_COUNT);
    std::printf("  largest difference between medians: %.2f%%\n", 100.0 * (high - low) / low);
}

}  // namespace

int main(int argc, char **argv)
{
    int trials = argc > 1 ? std::atoi(argv[1]) : 1000;
    char directory[] = "/tmp/lodgate-timing-XXXXXX";
    if (mkdtemp(directory) == nullptr)
        return 1;
    std::string path = std::string(directory) + "/accounts.db";
    if (!set_up(path)) {
        std::fprintf(stderr, "cannot set up the database in %s\n", directory);
        return 1;
    }
    run_round("lockout off", trials);
    if (db_write_policy(POLICY_LOCKOUT_THRESHOLD, UNREACHED_THRESHOLD) != NERR_Success) {
        std::fprintf(stderr, "cannot turn the lockout policy on\n");
        return 1;
    }
    run_round("lockout on", trials);
    account_db_close();
    for (const char *suffix : {"", "-wal", "-shm"})
        std::remove((path + suffix).c_str());
    rmdir(directory);
    return 0;
}
