// The Windows account service names the faulty member of an
// ERROR_INVALID_PARAMETER answer by its lmaccess.h parameter number
// (USER_NAME_PARMNUM 1, USER_PASSWORD_PARMNUM 3, ... USER_SCRIPT_PATH_PARMNUM
// 9), while report_parameter_error numbers the USER_INFO_1 members 1 to 8 in
// their declared order. Shared by the Windows layer and its tests, which run
// everywhere.
#pragma once

#include "platform/win_types.h"

// The USER_INFO_1 members by their place in the record: how our account
// service names a faulty member on every platform, and how the replies to
// a faulty member are numbered. Declared here and nowhere else.
enum UserInfoMember : DWORD {
    MEMBER_NAME = 1,
    MEMBER_PASSWORD,
    MEMBER_PASSWORD_AGE,
    MEMBER_PRIV,
    MEMBER_HOME_DIR,
    MEMBER_COMMENT,
    MEMBER_FLAGS,
    MEMBER_SCRIPT_PATH,
};

struct ParameterNumber {
    DWORD service;  // USER_*_PARMNUM
    UserInfoMember member;
};

// One row per USER_INFO_1 member, in declared order.
constexpr ParameterNumber PARAMETER_NUMBERS[] = {
    {1, MEMBER_NAME},          // USER_NAME_PARMNUM
    {3, MEMBER_PASSWORD},      // USER_PASSWORD_PARMNUM
    {4, MEMBER_PASSWORD_AGE},  // USER_PASSWORD_AGE_PARMNUM
    {5, MEMBER_PRIV},          // USER_PRIV_PARMNUM
    {6, MEMBER_HOME_DIR},      // USER_HOME_DIR_PARMNUM
    {7, MEMBER_COMMENT},       // USER_COMMENT_PARMNUM
    {8, MEMBER_FLAGS},         // USER_FLAGS_PARMNUM
    {9, MEMBER_SCRIPT_PATH},   // USER_SCRIPT_PATH_PARMNUM
};

// The member index for a service parameter number; any number that names
// no USER_INFO_1 member is returned unchanged, so that its reply still
// shows what the service said.
constexpr DWORD windows_parameter_index(DWORD service_number)
{
    for (const ParameterNumber &row : PARAMETER_NUMBERS)
        if (row.service == service_number)
            return row.member;
    return service_number;
}
