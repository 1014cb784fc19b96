#include "ldapstore/ldap_filter.h"

#include <cstdio>
#include <cstring>

namespace {

void append_hex(std::string &out, unsigned char byte)
{
    char hex[4];
    std::snprintf(hex, sizeof hex, "\\%02x", byte);
    out += hex;
}

}  // namespace

std::string escape_filter_value(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0')
            append_hex(out, static_cast<unsigned char>(c));
        else
            out += c;
    }
    return out;
}

std::string escape_dn_value(std::string_view value)
{
    static const char SPECIAL[] = ",+\"\\<>;=";
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        bool edge_space = c == ' ' && (i == 0 || i + 1 == value.size());
        if (c == '\0')
            append_hex(out, 0);
        else if (std::strchr(SPECIAL, c) != nullptr || edge_space || (c == '#' && i == 0))
            (out += '\\') += c;
        else
            out += c;
    }
    return out;
}

std::string equality_filter(const char *attribute, std::string_view value)
{
    return std::string("(") + attribute + "=" + escape_filter_value(value) + ")";
}
