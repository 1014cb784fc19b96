// The pam_exec interface with expose_authtok: PAM_USER names the account,
// standard input carries the password.
#pragma once

#include <cstddef>

#include "auth/caller_environment.h"

// pam_exec sends at most 511 bytes; one more is still read as a password.
constexpr std::size_t PAM_PASSWORD_MAX = 512;

// AUTH_OK only for a right password of an enabled, unlocked account;
// AUTH_REFUSED otherwise, AUTH_TEMPORARY when the service could not tell.
int run_pam_mode(const CallerEnvironment &caller);
