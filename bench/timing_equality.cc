// Whether a refused logon tells why: the medians of LogonUserW for a name
// that does not exist, a wrong password, and an account whose stored value
// is no hash, over interleaved trials in random order.
//   timing_equality [trials of each, 1000 by default]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "accountdb/account_db.h"
#include "platform/account_service.h"
#include "platform/last_error.h"

namespace {

struct Case {
    const char *label;
    const WCHAR *user;
    const WCHAR *password;
    std::vector<double> microseconds;
};

bool add_account(const WCHAR *name, const WCHAR *password)
{
    USER_INFO_1 info{};
    info.usri1_name = const_cast<WCHAR *>(name);
    info.usri1_password = const_cast<WCHAR *>(password);
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_flags = UF_SCRIPT | UF_NORMAL_ACCOUNT;
    DWORD parameter = 0;
    return NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &parameter) == NERR_Success;
}

double time_logon(const Case &trial)
{
    HANDLE token = nullptr;
    auto start = std::chrono::steady_clock::now();
    BOOL accepted = LogonUserW(trial.user, nullptr, trial.password, LOGON32_LOGON_INTERACTIVE,
                               LOGON32_PROVIDER_DEFAULT, &token);
    auto end = std::chrono::steady_clock::now();
    if (accepted || GetLastError() != ERROR_LOGON_FAILURE) {
        std::fprintf(stderr, "%s: unexpected logon result\n", trial.label);
        std::exit(1);
    }
    return std::chrono::duration<double, std::micro>(end - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    int trials = argc > 1 ? std::atoi(argv[1]) : 1000;
    char directory[] = "/tmp/lodgate-timing-XXXXXX";
    if (mkdtemp(directory) == nullptr)
        return 1;
    std::string path = std::string(directory) + "/timing.db";
    if (account_db_open(path.c_str()) != NERR_Success || !add_account(WTEXT("alice"), WTEXT("right")) ||
        !add_account(WTEXT("locked"), WTEXT("right")))
        return 1;
    // As an administrator locks an account in a shadow file.
    sqlite3_exec(account_db_connection(),
                 "UPDATE user_accounts SET password_hash = '!' || password_hash"
                 " WHERE name = 'locked'",
                 nullptr, nullptr, nullptr);

    std::vector<Case> cases = {{"missing name", WTEXT("nobody"), WTEXT("right"), {}},
                               {"wrong password", WTEXT("alice"), WTEXT("wrong"), {}},
                               {"locked stored value", WTEXT("locked"), WTEXT("right"), {}}};
    std::vector<int> order;
    for (int i = 0; i < trials; ++i)
        for (int c = 0; c < static_cast<int>(cases.size()); ++c)
            order.push_back(c);
    std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    for (int c : order)
        cases[c].microseconds.push_back(time_logon(cases[c]));

    double reference = median(cases[1].microseconds);
    std::printf("%-22s %12s %10s\n", "logon refused for", "median (us)", "vs wrong");
    for (const Case &trial : cases) {
        double value = median(trial.microseconds);
        std::printf("%-22s %12.1f %+9.2f%%\n", trial.label, value,
                    100.0 * (value - reference) / reference);
    }
    account_db_close();
    std::remove(path.c_str());
    std::remove((path + "-wal").c_str());
    std::remove((path + "-shm").c_str());
    rmdir(directory);
    return 0;
}
