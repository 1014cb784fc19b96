#include "log/line_format.h"

#include <cstdio>
#include <cstring>

void flatten_line_breaks(char *text)
{
    for (char *c = text; *c != '\0'; ++c) {
        auto byte = static_cast<unsigned char>(*c);
        if ((byte < 0x20 || byte == 0x7F) && !(byte == '\n' && c[1] == '\0'))
            *c = ' ';
    }
}

std::size_t format_line(char *buffer, const char *format, va_list arguments)
{
    int wanted = std::vsnprintf(buffer, LINE_BUFFER_SIZE, format, arguments);
    if (wanted < 0)
        buffer[0] = '\0';
    std::size_t length = std::strlen(buffer);
    if (length < LINE_BUFFER_SIZE - 1) {
        if (length == 0 || buffer[length - 1] != '\n') {
            buffer[length++] = '\n';
            buffer[length] = '\0';
        }
    } else {
        // A cut line still ends, so that the next reply starts a line of
        // its own.
        buffer[length - 1] = '\n';
    }
    flatten_line_breaks(buffer);
    return length;
}
