#include "log/paths.h"

#include <cstring>

#include "text/text.h"
#include "platform/path_style.h"

namespace {

bool is_ascii_alphanumeric(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool is_kept_character(char c, char separator)
{
    return is_ascii_alphanumeric(c) || c == separator || std::strchr("._*:@", c) != nullptr;
}

bool is_absent_or_empty(const char *text)
{
    return text == nullptr || text[0] == '\0';
}

}  // namespace

const char *clean_file_name_with(const char *name, char separator)
{
    static char result[PATH_TEXT_MAX];
    std::size_t length = 0;
    for (const char *c = name ? name : ""; *c != '\0' && length < PATH_TEXT_MAX - 1; ++c) {
        if (*c == ' ')
            result[length++] = '_';
        else if (is_kept_character(*c, separator))
            result[length++] = *c;
    }
    while (length > 1 && result[length - 1] == '_')
        --length;
    result[length] = '\0';
    return result;
}

const char *clean_file_name(const char *name)
{
    return clean_file_name_with(name, PATH_SEPARATOR);
}

const char *join_path_with(const char *directory, const char *name, char separator)
{
    static char result[PATH_TEXT_MAX];
    const char *cleaned = is_absent_or_empty(name) ? nullptr : clean_file_name_with(name, separator);
    if (is_absent_or_empty(directory)) {
        copy_bounded(result, cleaned, PATH_TEXT_MAX - 1);
        return result;
    }
    copy_bounded(result, directory, PATH_TEXT_MAX - 1);
    if (cleaned == nullptr)
        return result;
    std::size_t length = std::strlen(result);
    bool directory_ends = length > 0 && result[length - 1] == separator;
    bool name_begins = cleaned[0] == separator;
    char separator_text[2] = {separator, '\0'};
    if (directory_ends && name_begins)
        result[length - 1] = '\0';
    else if (!directory_ends && !name_begins)
        append_bounded(result, separator_text, PATH_TEXT_MAX - 1);
    append_bounded(result, cleaned, PATH_TEXT_MAX - 1);
    return result;
}

const char *join_path(const char *directory, const char *name)
{
    return join_path_with(directory, name, PATH_SEPARATOR);
}
