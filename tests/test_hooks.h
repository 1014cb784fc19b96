// What the test binaries of the stores define in place of production's
// functions at link time (tests/test_hooks.cc): a clock that tests may fix,
// and a count of the password work.
#pragma once

#include <cstdint>

// When not 0, the time account_clock answers.
extern std::int64_t account_clock_fixed;

// The work note_password_work was told of.
struct PasswordCounters {
    long crypt_calls = 0;
    long dummy_verifies = 0;
};
extern PasswordCounters password_counters;
