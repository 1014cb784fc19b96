// Narrow text is UTF-8 here. Both directions are strict: an ill-formed
// sequence, an overlong form, an encoded surrogate or an unpaired surrogate
// is refused rather than replaced, so that no two spellings of a name meet.
#include "platform/text_conversion.h"

#include <cstring>

namespace {

constexpr UINT CP_UTF8_CODE_PAGE = 65001;

bool fail(DWORD code)
{
    SetLastError(code);
    return false;
}

int failed(DWORD code)
{
    SetLastError(code);
    return 0;
}

// Decodes one scalar value at text[i], advancing i; false when ill-formed.
bool decode_utf8(const unsigned char *text, int length, int &i, char32_t &value)
{
    unsigned char lead = text[i];
    int extra;
    char32_t minimum;
    if (lead < 0x80) {
        value = lead;
        ++i;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        minimum = 0x80;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        minimum = 0x800;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        minimum = 0x10000;
        value = lead & 0x07;
    } else {
        return false;
    }
    if (i + extra >= length)
        return false;
    for (int k = 1; k <= extra; ++k) {
        unsigned char next = text[i + k];
        if ((next & 0xC0) != 0x80)
            return false;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return false;
    i += extra + 1;
    return true;
}

bool valid_arguments(UINT code_page, DWORD flags, const void *source, int source_length,
                     const void *destination, int destination_size)
{
    if (flags != 0)
        return fail(ERROR_INVALID_FLAGS);
    if ((code_page != CP_ACP && code_page != CP_UTF8_CODE_PAGE) || source == nullptr ||
        source_length == 0 || source_length < -1 || destination_size < 0 ||
        (destination == nullptr && destination_size != 0))
        return fail(ERROR_INVALID_PARAMETER);
    return true;
}

// The leading units below 0x80, which need no decoding in either direction:
// names, paths and comments are mostly nothing else.
template <typename Unit>
int ascii_prefix(const Unit *text, int length)
{
    int i = 0;
    while (i < length && static_cast<char32_t>(text[i]) < 0x80)
        ++i;
    return i;
}

}  // namespace

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR source, int source_length,
                        LPWSTR destination, int destination_size)
{
    if (!valid_arguments(code_page, flags, source, source_length, destination,
                         destination_size))
        return 0;
    int length = source_length == -1 ? static_cast<int>(std::strlen(source)) + 1 : source_length;
    const auto *text = reinterpret_cast<const unsigned char *>(source);
    int ascii = ascii_prefix(text, length);
    int needed = ascii;
    for (int i = ascii; i < length;) {
        char32_t value = 0;
        if (!decode_utf8(text, length, i, value))
            return failed(ERROR_NO_UNICODE_TRANSLATION);
        needed += value >= 0x10000 ? 2 : 1;
    }
    if (destination_size == 0)
        return needed;
    if (needed > destination_size)
        return failed(ERROR_INSUFFICIENT_BUFFER);
    for (int i = 0; i < ascii; ++i)
        destination[i] = text[i];
    int out = ascii;
    for (int i = ascii; i < length;) {
        char32_t value = 0;
        decode_utf8(text, length, i, value);
        if (value >= 0x10000) {
            value -= 0x10000;
            destination[out++] = static_cast<WCHAR>(0xD800 + (value >> 10));
            destination[out++] = static_cast<WCHAR>(0xDC00 + (value & 0x3FF));
        } else {
            destination[out++] = static_cast<WCHAR>(value);
        }
    }
    return out;
}

namespace {

// Decodes one scalar value of UTF-16 at text[i]; false for an unpaired
// surrogate.
bool decode_utf16(const WCHAR *text, int length, int &i, char32_t &value)
{
    char32_t unit = text[i];
    if (unit >= 0xDC00 && unit <= 0xDFFF)
        return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (i + 1 >= length || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
            return false;
        value = 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        i += 2;
        return true;
    }
    value = unit;
    ++i;
    return true;
}

int encode_utf8(char32_t value, char *out)
{
    if (value < 0x80) {
        out[0] = static_cast<char>(value);
        return 1;
    }
    if (value < 0x800) {
        out[0] = static_cast<char>(0xC0 | (value >> 6));
        out[1] = static_cast<char>(0x80 | (value & 0x3F));
        return 2;
    }
    if (value < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (value >> 12));
        out[1] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (value & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (value >> 18));
    out[1] = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (value & 0x3F));
    return 4;
}

}  // namespace

int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR source, int source_length,
                        LPSTR destination, int destination_size, LPCSTR default_char,
                        LPBOOL used_default_char)
{
    if (!valid_arguments(code_page, flags, source, source_length, destination,
                         destination_size))
        return 0;
    // UTF-8 has no default character: every value can be written.
    if (default_char != nullptr || used_default_char != nullptr)
        return failed(ERROR_INVALID_PARAMETER);
    int length = source_length;
    int ascii = 0;
    if (length == -1) {
        // One pass finds both the end and the units below 0x80 before it.
        while (source[ascii] != 0 && source[ascii] < 0x80)
            ++ascii;
        length = ascii + static_cast<int>(wide_length(source + ascii)) + 1;
        if (source[ascii] == 0)
            ++ascii;  // the terminator is below 0x80 too
    } else {
        ascii = ascii_prefix(source, length);
    }
    int needed = ascii;
    char bytes[4];
    for (int i = ascii; i < length;) {
        char32_t value = 0;
        if (!decode_utf16(source, length, i, value))
            return failed(ERROR_NO_UNICODE_TRANSLATION);
        needed += encode_utf8(value, bytes);
    }
    if (destination_size == 0)
        return needed;
    if (needed > destination_size)
        return failed(ERROR_INSUFFICIENT_BUFFER);
    for (int i = 0; i < ascii; ++i)
        destination[i] = static_cast<char>(source[i]);
    int out = ascii;
    for (int i = ascii; i < length;) {
        char32_t value = 0;
        decode_utf16(source, length, i, value);
        out += encode_utf8(value, destination + out);
    }
    return out;
}
