// The checkpassword interface as Dovecot 2.3 uses it: the credentials on
// descriptor 3, the answer as an exit status or as the program run next.
#pragma once

#include <cstddef>
#include <string_view>

#include "auth/caller_environment.h"

// Dovecot and the original interface send at most this much.
constexpr std::size_t CHECKPASSWORD_INPUT_MAX = 512;
constexpr int CHECKPASSWORD_INPUT_FD = 3;

struct CheckpasswordInput {
    std::string_view user;
    std::string_view password;
};

// user\0password\0timestamp\0, the timestamp possibly empty, nothing after
// it and at most CHECKPASSWORD_INPUT_MAX bytes. 1 with the parts, which
// point into bytes; 0 when malformed.
int parse_checkpassword_input(std::string_view bytes, CheckpasswordInput &input);

// Reads descriptor 3, checks or looks up, and on success runs program
// (argv-style, ended by nullptr) in place of this process. Returns only an
// AUTH_* exit status for failure.
int run_checkpassword(char **program, const CallerEnvironment &caller);
