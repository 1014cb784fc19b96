#include "platform/utf_text.h"

namespace {

constexpr char32_t HIGH_SURROGATE_FIRST = 0xD800;
constexpr char32_t LOW_SURROGATE_FIRST = 0xDC00;
constexpr char32_t SURROGATE_LAST = 0xDFFF;
constexpr char32_t CODE_POINT_LAST = 0x10FFFF;

bool is_high_surrogate(char32_t unit)
{
    return unit >= HIGH_SURROGATE_FIRST && unit < LOW_SURROGATE_FIRST;
}

bool is_low_surrogate(char32_t unit)
{
    return unit >= LOW_SURROGATE_FIRST && unit <= SURROGATE_LAST;
}

// Length and smallest value of a sequence by its lead byte; 0 when invalid.
std::size_t sequence_length(unsigned char lead, char32_t *smallest)
{
    if (lead >= 0xC2 && lead <= 0xDF) {
        *smallest = 0x80;
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        *smallest = 0x800;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        *smallest = 0x10000;
        return 4;
    }
    return 0;
}

}  // namespace

bool decode_utf16(const WCHAR *text, std::size_t length, std::size_t *i, char32_t *code_point)
{
    char32_t unit = text[*i];
    if (is_low_surrogate(unit))
        return false;
    if (!is_high_surrogate(unit)) {
        *code_point = unit;
        ++*i;
        return true;
    }
    if (*i + 1 >= length || !is_low_surrogate(text[*i + 1]))
        return false;
    *code_point = 0x10000 + ((unit - HIGH_SURROGATE_FIRST) << 10) +
                  (text[*i + 1] - LOW_SURROGATE_FIRST);
    *i += 2;
    return true;
}

std::size_t encode_utf8(char32_t code_point, char *out)
{
    if (code_point < 0x80) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code_point >> 6));
        out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 2;
    }
    if (code_point < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code_point >> 12));
        out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code_point >> 18));
    out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 4;
}


std::size_t wide_text_units(const WCHAR *text)
{
    if (text == nullptr)
        return 0;
    std::size_t units = 0;
    while (text[units] != 0)
        ++units;
    return units;
}

bool wide_to_utf8(const WCHAR *text, std::string &out)
{
    out.clear();
    if (text == nullptr)
        return true;
    // Units below 0x80 are their own byte: names and paths are mostly such.
    std::size_t i = 0;
    while (text[i] != 0 && text[i] < 0x80)
        ++i;
    out.assign(text, text + i);
    std::size_t length = i + wide_text_units(text + i);
    while (i < length) {
        char32_t code_point = 0;
        if (!decode_utf16(text, length, &i, &code_point))
            return false;
        append_utf8(code_point, out);
    }
    return true;
}

bool wide_to_utf8_into(const WCHAR *text, char *buffer, std::size_t size, std::size_t *length)
{
    std::size_t used = 0;
    std::size_t i = 0;
    std::size_t units = wide_text_units(text);
    while (i < units) {
        char32_t code_point = 0;
        char bytes[4];
        if (!decode_utf16(text, units, &i, &code_point))
            return false;
        std::size_t count = encode_utf8(code_point, bytes);
        if (used + count >= size)
            return false;
        for (std::size_t k = 0; k < count; ++k)
            buffer[used++] = bytes[k];
    }
    if (size == 0)
        return false;
    buffer[used] = '\0';
    *length = used;
    return true;
}

char32_t decode_utf8(std::string_view text, std::size_t *position, bool *valid)
{
    auto lead = static_cast<unsigned char>(text[*position]);
    ++*position;
    *valid = true;
    if (lead < 0x80)
        return lead;
    char32_t smallest = 0;
    std::size_t length = sequence_length(lead, &smallest);
    if (length == 0 || *position + length - 1 > text.size()) {
        *valid = false;
        return REPLACEMENT_CHARACTER;
    }
    char32_t code_point = lead & (0x7F >> length);
    for (std::size_t k = 0; k + 1 < length; ++k) {
        auto next = static_cast<unsigned char>(text[*position + k]);
        if ((next & 0xC0) != 0x80) {
            *valid = false;
            return REPLACEMENT_CHARACTER;
        }
        code_point = (code_point << 6) | (next & 0x3F);
    }
    if (code_point < smallest || code_point > CODE_POINT_LAST ||
        (code_point >= HIGH_SURROGATE_FIRST && code_point <= SURROGATE_LAST)) {
        *valid = false;
        return REPLACEMENT_CHARACTER;
    }
    *position += length - 1;
    return code_point;
}

void append_utf8(char32_t code_point, std::string &out)
{
    char bytes[4];
    out.append(bytes, encode_utf8(code_point, bytes));
}

bool utf8_is_valid(std::string_view text)
{
    std::size_t position = 0;
    while (position < text.size()) {
        bool valid = true;
        decode_utf8(text, &position, &valid);
        if (!valid)
            return false;
    }
    return true;
}

namespace {

std::size_t ascii_prefix(std::string_view text)
{
    std::size_t length = 0;
    while (length < text.size() && static_cast<unsigned char>(text[length]) < 0x80)
        ++length;
    return length;
}

}  // namespace

std::size_t wide_units_of(std::string_view text)
{
    std::size_t position = ascii_prefix(text);
    std::size_t units = position;
    while (position < text.size()) {
        bool valid = true;
        units += decode_utf8(text, &position, &valid) >= 0x10000 ? 2 : 1;
    }
    return units;
}

WCHAR *utf8_to_wide(std::string_view text, WCHAR *out)
{
    std::size_t position = ascii_prefix(text);
    for (std::size_t i = 0; i < position; ++i)
        *out++ = static_cast<unsigned char>(text[i]);
    while (position < text.size()) {
        bool valid = true;
        char32_t code_point = decode_utf8(text, &position, &valid);
        if (code_point < 0x10000) {
            *out++ = static_cast<WCHAR>(code_point);
            continue;
        }
        code_point -= 0x10000;
        *out++ = static_cast<WCHAR>(HIGH_SURROGATE_FIRST + (code_point >> 10));
        *out++ = static_cast<WCHAR>(LOW_SURROGATE_FIRST + (code_point & 0x3FF));
    }
    return out;
}
