#include "accountdb/user_records.h"

#include <ctime>

std::int64_t account_clock()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}
