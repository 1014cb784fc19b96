#include "ldapstore/ldap_result.h"

#include <ldap.h>

#include "log/trace_log.h"

namespace {

struct ResultRow {
    int result;
    DWORD code;
};

const ResultRow RESULTS[] = {
    {LDAP_SUCCESS, NERR_Success},
    {LDAP_ALREADY_EXISTS, NERR_UserExists},
    {LDAP_INSUFFICIENT_ACCESS, ERROR_ACCESS_DENIED},
    // A read-only replica answers writes with a referral, never chased.
    {LDAP_REFERRAL, NERR_NotPrimary},
    {LDAP_SERVER_DOWN, ERROR_BAD_NETPATH},
    {LDAP_CONNECT_ERROR, ERROR_BAD_NETPATH},
    {LDAP_TIMEOUT, ERROR_BAD_NETPATH},
    {LDAP_TIMELIMIT_EXCEEDED, ERROR_BAD_NETPATH},
    {LDAP_BUSY, ERROR_BAD_NETPATH},
    {LDAP_UNAVAILABLE, ERROR_BAD_NETPATH},
};

struct AdDiagnostic {
    const char *data;
    LogonVerdict verdict;
};

// The Windows error in hexadecimal after "data ".
const AdDiagnostic AD_DIAGNOSTICS[] = {
    {"data 775", LogonVerdict::LOCKED},
    {"data 533", LogonVerdict::DISABLED},
    {"data 52e", LogonVerdict::WRONG},
};

}  // namespace

bool directory_unreachable(int result)
{
    for (const ResultRow &row : RESULTS)
        if (row.result == result)
            return row.code == ERROR_BAD_NETPATH;
    return false;
}

DWORD directory_status(int result, LdapTarget target, const char *server, const char *message)
{
    if (result == LDAP_NO_SUCH_OBJECT && target != LdapTarget::BASE)
        return target == LdapTarget::ACCOUNT ? NERR_UserNotFound : NERR_GroupNotFound;
    if (result == LDAP_ALREADY_EXISTS && target == LdapTarget::GROUP)
        return NERR_GroupExists;
    for (const ResultRow &row : RESULTS)
        if (row.result == result)
            return row.code;
    log_error("directory %s: %s (%d)%s%s", server != nullptr ? server : "(none)",
              ldap_err2string(result), result, message != nullptr && *message ? ": " : "",
              message != nullptr ? message : "");
    return NERR_InternalError;
}

LogonVerdict ad_bind_verdict(std::string_view diagnostic)
{
    for (const AdDiagnostic &row : AD_DIAGNOSTICS)
        if (diagnostic.find(row.data) != std::string_view::npos)
            return row.verdict;
    return LogonVerdict::WRONG;
}
