#include "platform/last_error.h"

namespace {
DWORD last_error = ERROR_SUCCESS;
}

DWORD GetLastError()
{
    return last_error;
}

void SetLastError(DWORD code)
{
    last_error = code;
}
