// The registry functions that host name resolution reads the computer's own
// name with. On POSIX only HKEY_LOCAL_MACHINE's ComputerName value exists,
// and it is the host name that gethostname() gives.
#pragma once

#include "platform/win_types.h"

#ifndef _WIN32
extern const HKEY HKEY_LOCAL_MACHINE;

LSTATUS RegCreateKeyW(HKEY key, LPCWSTR subkey, PHKEY result);
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR value_name, LPDWORD reserved,
                         LPDWORD type, LPBYTE data, LPDWORD data_size);
LSTATUS RegCloseKey(HKEY key);
#endif
