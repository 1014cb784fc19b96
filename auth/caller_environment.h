// What lodgate-auth takes from its environment. As a setuid program it
// trusts nothing else there: the rest is dropped before anything is opened.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct CallerEnvironment {
    std::optional<std::string> authorized;  // AUTHORIZED, set by Dovecot for lookups
    std::optional<std::string> pam_user;    // PAM_USER, set by pam_exec
    // "NAME=value" entries that Dovecot set for the program it names.
    std::vector<std::string> passed_on;
};

// Takes the variables above out of environ and then empties it.
CallerEnvironment take_caller_environment();

// The environment for the program that checkpassword mode runs: what was
// passed on, then USER, HOME when there is one and, for a lookup,
// AUTHORIZED=2.
std::vector<std::string> reply_environment(const CallerEnvironment &caller,
                                           const std::string &user,
                                           const std::optional<std::string> &home,
                                           bool lookup);
