#include "command/base_name.h"

#include <cstring>

#include "text/text.h"
#include "platform/path_style.h"

const char *base_name_with(const char *path, bool strip_extension, char separator)
{
    static char result[512];
    result[0] = '\0';
    if (path == nullptr)
        return result;
    const char *last = std::strrchr(path, separator);
    copy_bounded(result, last ? last + 1 : path, sizeof result - 1);
    if (strip_extension) {
        char *dot = std::strchr(result, '.');
        if (dot != nullptr)
            *dot = '\0';
    }
    return result;
}

const char *base_name(const char *path, bool strip_extension)
{
    return base_name_with(path, strip_extension, PATH_SEPARATOR);
}
