// Narrow text is UTF-8 here. Both directions are strict: an ill-formed
// sequence, an overlong form, an encoded surrogate or an unpaired surrogate
// is refused rather than replaced, so that no two spellings of a name meet.
#include "platform/text_conversion.h"

#include <cstring>
#include <string_view>

#include "platform/utf_text.h"

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
    std::string_view text(source, static_cast<std::size_t>(length));
    int ascii = ascii_prefix(source, length);
    int needed = ascii;
    for (std::size_t i = ascii; i < text.size();) {
        bool valid = true;
        char32_t value = decode_utf8(text, &i, &valid);
        if (!valid)
            return failed(ERROR_NO_UNICODE_TRANSLATION);
        needed += value >= 0x10000 ? 2 : 1;
    }
    if (destination_size == 0)
        return needed;
    if (needed > destination_size)
        return failed(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(utf8_to_wide(text, destination) - destination);
}

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
    auto units = static_cast<std::size_t>(length);
    for (std::size_t i = ascii; i < units;) {
        char32_t value = 0;
        if (!decode_utf16(source, units, &i, &value))
            return failed(ERROR_NO_UNICODE_TRANSLATION);
        needed += static_cast<int>(encode_utf8(value, bytes));
    }
    if (destination_size == 0)
        return needed;
    if (needed > destination_size)
        return failed(ERROR_INSUFFICIENT_BUFFER);
    for (int i = 0; i < ascii; ++i)
        destination[i] = static_cast<char>(source[i]);
    int out = ascii;
    for (std::size_t i = ascii; i < units;) {
        char32_t value = 0;
        decode_utf16(source, units, &i, &value);
        out += static_cast<int>(encode_utf8(value, destination + out));
    }
    return out;
}
