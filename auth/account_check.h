// Password checks (the module's own check) and lookups through the account
// service, as lodgate-auth answers them, traced as the module's check and
// lookup commands trace them.
#pragma once

#include <optional>
#include <string>

struct AccountAnswer {
    int status = 0;                   // an AUTH_* exit status
    std::string name;                 // the account's own form of the name
    std::optional<std::string> home;  // absent when the account has none
    std::string reason;               // for the caller's log, never a secret
};

// AUTH_OK with the name and home of the account when password is right for
// an enabled, unlocked account; AUTH_REFUSED when it is not (an unknown
// name and an empty password included); AUTH_TEMPORARY when the service
// could not tell.
AccountAnswer check_account_password(const char *user, const char *password);

// AUTH_OK with the name and home when the account exists, AUTH_UNKNOWN_USER
// when it does not, AUTH_TEMPORARY when the service could not tell.
AccountAnswer look_up_account(const char *user);
