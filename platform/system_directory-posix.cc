#include "platform/system_directory.h"

#include "platform/last_error.h"
#include "platform/text_conversion.h"

#ifndef LODGATE_SYSCONFDIR
#define LODGATE_SYSCONFDIR "/etc"
#endif

const char DEFAULT_SYSTEM_DIRECTORY[] = LODGATE_SYSCONFDIR "/";

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size)
{
    int written = MultiByteToWideChar(CP_ACP, 0, LODGATE_SYSCONFDIR, -1, buffer,
                                      static_cast<int>(size));
    return written > 0 ? static_cast<UINT>(written - 1) : 0;
}
