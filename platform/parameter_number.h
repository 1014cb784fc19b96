// The Windows account service names the faulty member of an
// ERROR_INVALID_PARAMETER answer by its lmaccess.h parameter number
// (USER_NAME_PARMNUM 1, USER_PASSWORD_PARMNUM 3, ... USER_SCRIPT_PATH_PARMNUM
// 9), while report_parameter_error numbers the USER_INFO_1 members 1 to 8 in
// their declared order. Shared by the Windows layer and its tests, which run
// everywhere.
#pragma once

#include "platform/win_types.h"

struct ParameterNumber {
    DWORD service;  // USER_*_PARMNUM
    DWORD index;    // place of the member in USER_INFO_1
};

// One row per USER_INFO_1 member, in declared order.
constexpr ParameterNumber PARAMETER_NUMBERS[] = {
    {1, 1},  // USER_NAME_PARMNUM: usri1_name
    {3, 2},  // USER_PASSWORD_PARMNUM: usri1_password
    {4, 3},  // USER_PASSWORD_AGE_PARMNUM: usri1_password_age
    {5, 4},  // USER_PRIV_PARMNUM: usri1_priv
    {6, 5},  // USER_HOME_DIR_PARMNUM: usri1_home_dir
    {7, 6},  // USER_COMMENT_PARMNUM: usri1_comment
    {8, 7},  // USER_FLAGS_PARMNUM: usri1_flags
    {9, 8},  // USER_SCRIPT_PATH_PARMNUM: usri1_script_path
};

// The member index for a service parameter number; any number that names
// no USER_INFO_1 member is returned unchanged, so that its reply still
// shows what the service said.
constexpr DWORD windows_parameter_index(DWORD service_number)
{
    for (const ParameterNumber &row : PARAMETER_NUMBERS)
        if (row.service == service_number)
            return row.index;
    return service_number;
}
