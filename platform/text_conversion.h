// Conversions between narrow text (the ANSI code page on Windows, UTF-8 on
// POSIX) and wide text (UTF-16). Both return the number of units written,
// terminator included when the source length is -1, or 0 on failure with
// ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER, ERROR_INVALID_FLAGS or
// ERROR_NO_UNICODE_TRANSLATION in GetLastError.
#pragma once

#include <cstddef>

#include "platform/last_error.h"
#include "platform/win_types.h"

#ifndef _WIN32
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR source,
                        int source_length, LPWSTR destination,
                        int destination_size);
int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR source,
                        int source_length, LPSTR destination,
                        int destination_size, LPCSTR default_char,
                        LPBOOL used_default_char);
#endif

// Length of a terminated wide text in code units; 0 for none.
inline std::size_t wide_length(const WCHAR *text)
{
    std::size_t length = 0;
    while (text != nullptr && text[length] != 0)
        ++length;
    return length;
}
