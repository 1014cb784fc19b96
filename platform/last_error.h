// The error of the system call that just failed, as Windows keeps it.
#pragma once

#include "platform/win_types.h"

#ifndef _WIN32
DWORD GetLastError();
void SetLastError(DWORD code);
#endif
