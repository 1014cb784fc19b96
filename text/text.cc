#include "text/text.h"

#include <cstring>

int same_text(const char *a, const char *b)
{
    if (a == nullptr || b == nullptr)
        return 1;
    return std::strcmp(a, b);
}

char *copy_bounded(char *destination, const char *source, std::size_t n)
{
    if (destination == nullptr)
        return nullptr;
    if (source == nullptr) {
        destination[0] = '\0';
        return destination;
    }
    std::size_t length = strnlen(source, n);
    std::memcpy(destination, source, length);
    destination[length] = '\0';
    destination[n] = '\0';
    return destination + length;
}

char *append_bounded(char *buffer, const char *source, std::size_t n)
{
    std::size_t length = std::strlen(buffer);
    if (length > n) {
        buffer[n] = '\0';
        return buffer + n;
    }
    copy_bounded(buffer + length, source, n - length);
    return buffer + length;
}
