#include "log/line_format.h"

#include <cstdio>
#include <cstring>

namespace {

// A C1 control (U+0080 to U+009F) in UTF-8: 0xC2 and a byte 0x80 to 0x9F.
// U+009B alone is a CSI to many terminals. (On a Windows code page other
// than UTF-8 the pair is two rare signs, flattened all the same.)
bool is_c1_control(const char *c)
{
    auto lead = static_cast<unsigned char>(c[0]);
    auto next = static_cast<unsigned char>(c[1]);
    return lead == 0xC2 && next >= 0x80 && next <= 0x9F;
}

}  // namespace

std::size_t flatten_line_breaks(char *text)
{
    char *out = text;
    for (const char *c = text; *c != '\0'; ++c) {
        auto byte = static_cast<unsigned char>(*c);
        if (is_c1_control(c)) {
            *out++ = ' ';
            ++c;
        } else if ((byte < 0x20 || byte == 0x7F) && !(byte == '\n' && c[1] == '\0')) {
            *out++ = ' ';
        } else {
            *out++ = *c;
        }
    }
    *out = '\0';
    return static_cast<std::size_t>(out - text);
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
    return flatten_line_breaks(buffer);
}
