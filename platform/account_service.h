// The host's account service: the netapi32 user and local-group functions and
// the advapi32 logon. On Windows these are the system's own; on POSIX our
// account database stands in with the same names, arguments and result codes.
// The account commands call nothing else of the host's accounts.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

// The service calls of one set (removing, adding, joining) made one change
// where the service allows it, so that a module killed between them leaves
// no account half made; Windows has no such bracket, so there they are
// separate. Ending with keep stores what the calls did and gives
// NERR_Success or the reason the change was lost; without keep it undoes
// them, so that a set answered with a failure has changed nothing.
void begin_account_change();
NET_API_STATUS end_account_change(bool keep = true);

// The shape of every name the caller wants from the next NetUserEnum call
// when it starts a listing (a zero resume handle): texts in order with
// anything between them, the first at the start of the name and the last
// at its end (see NameShape in account_backend.h). That call forgets it.
// The store may then leave out names of another shape; the caller still
// judges each name it gets. Windows lists every account.
void narrow_next_listing(std::vector<std::string> shape);

#ifdef _WIN32

// Windows numbers a faulty member by its lmaccess.h USER_*_PARMNUM, the
// replies by its place in USER_INFO_1. These two names are therefore ours
// (account_service-win32.cc), calling the system's and translating
// *parm_err, so that the account commands stay as they are.
#define NetUserAdd lodgate_NetUserAdd
#define NetUserSetInfo lodgate_NetUserSetInfo

NET_API_STATUS lodgate_NetUserAdd(LPCWSTR servername, DWORD level, LPBYTE buf,
                                  LPDWORD parm_err);
NET_API_STATUS lodgate_NetUserSetInfo(LPCWSTR servername, LPCWSTR username,
                                      DWORD level, LPBYTE buf, LPDWORD parm_err);

#else

// Level 1 only. On success *bufptr holds one USER_INFO_1 in a buffer that the
// caller releases with NetApiBufferFree; usri1_password is always absent.
NET_API_STATUS NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level,
                              LPBYTE *bufptr);

// Level 1 only. Fills at most about prefmaxlen bytes of USER_INFO_1 records in
// creation order (a directory's own order, which is creation order on
// OpenLDAP) and answers ERROR_MORE_DATA while entries remain; pass the
// resume handle back to continue.
NET_API_STATUS NetUserEnum(LPCWSTR servername, DWORD level, DWORD filter,
                           LPBYTE *bufptr, DWORD prefmaxlen,
                           LPDWORD entriesread, LPDWORD totalentries,
                           LPDWORD resume_handle);

// With ERROR_INVALID_PARAMETER, *parm_err (when given) names the faulty
// member: 1 name, 2 password, 3 password age, 4 priv, 5 home directory,
// 6 comment, 7 flags, 8 script path.
NET_API_STATUS NetUserAdd(LPCWSTR servername, DWORD level, LPBYTE buf,
                          LPDWORD parm_err);
NET_API_STATUS NetUserSetInfo(LPCWSTR servername, LPCWSTR username,
                              DWORD level, LPBYTE buf, LPDWORD parm_err);
NET_API_STATUS NetUserDel(LPCWSTR servername, LPCWSTR username);

// Level 3 only: LOCALGROUP_MEMBERS_INFO_3 records naming the members.
NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname,
                                       DWORD level, LPBYTE buf,
                                       DWORD totalentries);

// Level 0 only: one USER_MODALS_INFO_0 in a buffer that the caller releases
// with NetApiBufferFree; the minimum password length is the policy's.
NET_API_STATUS NetUserModalsGet(LPCWSTR servername, DWORD level, LPBYTE *bufptr);

NET_API_STATUS NetApiBufferFree(void *buffer);

// TRUE and a token when the password is right for an enabled account;
// otherwise FALSE with the reason in GetLastError.
BOOL LogonUserW(LPCWSTR username, LPCWSTR domain, LPCWSTR password,
                DWORD logon_type, DWORD logon_provider, PHANDLE token);
BOOL CloseHandle(HANDLE handle);

#endif
