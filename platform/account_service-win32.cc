// The account service is the system's own netapi32 and advapi32. Only the
// two writes are wrapped (account_service.h maps their names here), to turn
// the service's parameter numbers into the indexes of the replies.
#include "platform/account_service.h"

#include "platform/parameter_number.h"

#undef NetUserAdd
#undef NetUserSetInfo

static_assert(windows_parameter_index(USER_NAME_PARMNUM) == 1);
static_assert(windows_parameter_index(USER_PASSWORD_PARMNUM) == 2);
static_assert(windows_parameter_index(USER_PASSWORD_AGE_PARMNUM) == 3);
static_assert(windows_parameter_index(USER_PRIV_PARMNUM) == 4);
static_assert(windows_parameter_index(USER_HOME_DIR_PARMNUM) == 5);
static_assert(windows_parameter_index(USER_COMMENT_PARMNUM) == 6);
static_assert(windows_parameter_index(USER_FLAGS_PARMNUM) == 7);
static_assert(windows_parameter_index(USER_SCRIPT_PATH_PARMNUM) == 8);

namespace {

NET_API_STATUS translated(NET_API_STATUS result, LPDWORD parm_err)
{
    if (result == ERROR_INVALID_PARAMETER && parm_err != nullptr)
        *parm_err = windows_parameter_index(*parm_err);
    return result;
}

}  // namespace

void begin_account_change() {}

NET_API_STATUS end_account_change(bool)
{
    return NERR_Success;
}

void narrow_next_listing(std::vector<std::string>) {}

NET_API_STATUS lodgate_NetUserAdd(LPCWSTR servername, DWORD level, LPBYTE buf,
                                  LPDWORD parm_err)
{
    return translated(NetUserAdd(servername, level, buf, parm_err), parm_err);
}

NET_API_STATUS lodgate_NetUserSetInfo(LPCWSTR servername, LPCWSTR username, DWORD level,
                                      LPBYTE buf, LPDWORD parm_err)
{
    return translated(NetUserSetInfo(servername, username, level, buf, parm_err), parm_err);
}
