#include "platform/account_names.h"

#include "platform/parameter_number.h"
#include "platform/secret_text.h"
#include "platform/utf_text.h"

namespace {

// A range of lower-case letters and what to add for the upper case. With
// step 2 only every other code point from first on is a lower-case letter
// (the Latin Extended-A pairs).
struct FoldRange {
    char32_t first;
    char32_t last;
    int delta;
    int step;
};

constexpr FoldRange FOLD_RANGES[] = {
    {0x0061, 0x007A, -32, 1},    // a-z
    {0x00E0, 0x00F6, -32, 1},    // Latin-1 letters
    {0x00F8, 0x00FE, -32, 1},
    {0x00FF, 0x00FF, 0x79, 1},   // y with diaeresis
    {0x0101, 0x012F, -1, 2},     // Latin Extended-A pairs
    {0x0133, 0x0137, -1, 2},
    {0x013A, 0x0148, -1, 2},
    {0x014B, 0x0177, -1, 2},
    {0x017A, 0x017E, -1, 2},
    {0x03AC, 0x03AC, -38, 1},    // Greek with tonos
    {0x03AD, 0x03AF, -37, 1},
    {0x03B1, 0x03C1, -32, 1},    // Greek alpha-rho
    {0x03C2, 0x03C2, -31, 1},    // final sigma folds with sigma
    {0x03C3, 0x03CB, -32, 1},
    {0x03CC, 0x03CC, -64, 1},
    {0x03CD, 0x03CE, -63, 1},
    {0x0430, 0x044F, -32, 1},    // Cyrillic
    {0x0450, 0x045F, -80, 1},
};

bool is_control(char32_t code_point)
{
    return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F);
}

}  // namespace

char32_t fold_code_point(char32_t code_point)
{
    for (const FoldRange &range : FOLD_RANGES) {
        if (code_point < range.first || code_point > range.last)
            continue;
        if ((code_point - range.first) % range.step != 0)
            return code_point;
        return static_cast<char32_t>(static_cast<int>(code_point) + range.delta);
    }
    return code_point;
}

std::string fold_name(std::string_view name)
{
    std::string folded;
    folded.reserve(name.size());
    std::size_t position = 0;
    while (position < name.size()) {
        auto byte = static_cast<unsigned char>(name[position]);
        if (byte < 0x80) {
            folded.push_back(static_cast<char>(byte >= 'a' && byte <= 'z' ? byte - 32 : byte));
            ++position;
            continue;
        }
        bool valid = true;
        append_utf8(fold_code_point(decode_utf8(name, &position, &valid)), folded);
    }
    return folded;
}

namespace {

// A C0, DEL or C1 character anywhere in the text.
bool has_control_character(std::string_view text)
{
    std::size_t position = 0;
    while (position < text.size()) {
        auto byte = static_cast<unsigned char>(text[position]);
        if (byte < 0x80) {
            if (is_control(byte))
                return true;
            ++position;
            continue;
        }
        bool valid = true;
        if (is_control(decode_utf8(text, &position, &valid)))
            return true;
    }
    return false;
}

}  // namespace

bool name_is_valid(std::string_view name)
{
    return !name.empty() && text_member_is_valid(name) && !has_control_character(name);
}

bool text_member_is_valid(std::string_view text)
{
    return utf8_is_valid(text) && wide_units_of(text) <= ACCOUNT_TEXT_MAX;
}

bool user_flags_are_valid(DWORD flags)
{
    // The account-type bits of usri1_flags.
    constexpr DWORD ACCOUNT_TYPE_FLAGS = 0x0100 | UF_NORMAL_ACCOUNT | 0x0800 | 0x1000 | 0x2000;
    return (flags & ACCOUNT_TYPE_FLAGS) == UF_NORMAL_ACCOUNT;
}

namespace {

bool has_byte_of(std::string_view text, std::string_view refused)
{
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || refused.find(c) != std::string_view::npos)
            return true;
    }
    return false;
}

}  // namespace

bool value_is_storable(std::string_view text)
{
    return text.size() <= REPLY_VALUE_BYTES_MAX && text_member_is_valid(text) &&
           !has_control_character(text) && text.find('"') == std::string_view::npos;
}

bool name_is_addressable(std::string_view name)
{
    return name.size() <= REPLY_VALUE_BYTES_MAX && name_is_valid(name) &&
           !has_byte_of(name, " \"=");
}

namespace {

bool optional_member_fits(const std::optional<std::string> &text)
{
    return !text || value_is_storable(*text);
}

}  // namespace

DWORD account_member_fault(const StoreAccount &account, bool with_name)
{
    if (with_name && !name_is_addressable(account.name))
        return MEMBER_NAME;
    if (account.priv > USER_PRIV_ADMIN)
        return MEMBER_PRIV;
    if (!optional_member_fits(account.home_dir))
        return MEMBER_HOME_DIR;
    if (!optional_member_fits(account.comment))
        return MEMBER_COMMENT;
    if (!user_flags_are_valid(account.flags))
        return MEMBER_FLAGS;
    if (!optional_member_fits(account.script_path))
        return MEMBER_SCRIPT_PATH;
    return 0;
}

DWORD password_fault(std::string_view password)
{
    if (password.size() > PASSWORD_BYTES_MAX || !text_member_is_valid(password))
        return MEMBER_PASSWORD;
    return 0;
}
