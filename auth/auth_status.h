// The exit statuses that Dovecot's checkpassword driver and pam_exec read.
#pragma once

constexpr int AUTH_OK = 0;
// Wrong password, unknown user, or an account that may not log on.
constexpr int AUTH_REFUSED = 1;
// The input on descriptor 3, or the command line, is not what the
// interface defines.
constexpr int AUTH_MALFORMED = 2;
// A lookup without a password found no such account.
constexpr int AUTH_UNKNOWN_USER = 3;
// The service could not answer: the caller may try again later.
constexpr int AUTH_TEMPORARY = 111;
