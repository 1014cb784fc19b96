// Where the second configuration candidate lives: the Windows system
// directory, or on POSIX the configured directory (LODGATE_SYSCONFDIR).
#pragma once

#include "platform/win_types.h"

// Used when the platform cannot give its directory.
extern const char DEFAULT_SYSTEM_DIRECTORY[];

#ifndef _WIN32
// Copies the directory as terminated wide text into buffer; returns its
// length, or 0 on failure (also when size is too small).
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
#endif
