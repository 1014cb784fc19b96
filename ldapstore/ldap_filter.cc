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

// A literal part of a name shape that the server can be asked for.
struct ShapePart {
    std::string text;
    bool at_start;
    bool at_end;
};

// Shorter parts narrow little, and OpenLDAP's substring index leaves them
// out (index_substr_if_minlen 2).
constexpr std::size_t PART_MIN = 2;

// Bytes whose normalized form never depends on their neighbours: printable
// ASCII but the space, which the server's matching may fold into another.
bool is_plain(char c)
{
    return c > ' ' && c < 0x7F;
}

// The ASCII characters that NFC composes with a combining mark after them
// (e + U+0301 is é): a part ending in one misses a name in which such a
// mark follows, so it cannot end a part that more of the name follows.
bool composes(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '<' || c == '=' || c == '>';
}

// The runs of plain bytes of each text, anchored where the text is; every
// other byte becomes a gap, which only widens what the parts hold.
std::vector<ShapePart> safe_parts(const std::vector<std::string> &shape)
{
    std::vector<ShapePart> parts;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const std::string &text = shape[i];
        for (std::size_t start = 0; start <= text.size();) {
            std::size_t end = start;
            while (end < text.size() && is_plain(text[end]))
                ++end;
            ShapePart part{text.substr(start, end - start), i == 0 && start == 0,
                           i + 1 == shape.size() && end == text.size()};
            if (!part.at_end && !part.text.empty() && composes(part.text.back()))
                part.text.pop_back();
            bool whole = part.at_start && part.at_end;
            if (part.text.size() >= (whole ? 1 : PART_MIN))
                parts.push_back(std::move(part));
            start = end + 1;
        }
    }
    return parts;
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

std::string shape_filter(const char *attribute, const std::vector<std::string> &shape)
{
    std::vector<ShapePart> parts = safe_parts(shape);
    if (parts.empty())
        return "";
    if (parts.size() == 1 && parts[0].at_start && parts[0].at_end)
        return equality_filter(attribute, parts[0].text);
    std::string value;
    std::size_t i = 0;
    if (parts[0].at_start)
        value += escape_filter_value(parts[i++].text);
    value += '*';
    for (; i < parts.size(); ++i)
        value += escape_filter_value(parts[i].text) + (parts[i].at_end ? "" : "*");
    return std::string("(") + attribute + "=" + value + ")";
}
