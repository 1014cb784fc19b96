// The directory's result codes as the account service's codes.
#pragma once

#include <string_view>

#include "platform/account_backend.h"

// What an operation was aimed at: a missing account is the caller's fault,
// a missing base the configuration's.
enum class LdapTarget {
    ACCOUNT,
    GROUP,
    BASE,
};

// NERR_Success, or the code for result (an LDAP_* value), logging an ERROR
// line with the server and the directory's message for unexpected ones.
DWORD directory_status(int result, LdapTarget target, const char *server, const char *message);

// True for the results that mean the server could not be reached or did not
// answer in time: the next server is tried, and a logon reports no logon
// servers.
bool directory_unreachable(int result);

// The verdict Active Directory gives in a failed bind's diagnostic text
// ("... data 775, ..."): LOCKED, DISABLED or WRONG.
LogonVerdict ad_bind_verdict(std::string_view diagnostic);
