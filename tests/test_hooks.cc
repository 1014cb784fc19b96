#include "tests/test_hooks.h"

#include <ctime>

#include "accountdb/user_records.h"
#include "hashing/password_hash.h"

std::int64_t account_clock_fixed = 0;
PasswordCounters password_counters;

std::int64_t account_clock()
{
    if (account_clock_fixed != 0)
        return account_clock_fixed;
    return static_cast<std::int64_t>(std::time(nullptr));
}

void note_password_work(PasswordWork work)
{
    if (work == PasswordWork::CRYPT_CALL)
        ++password_counters.crypt_calls;
    else
        ++password_counters.dummy_verifies;
}
