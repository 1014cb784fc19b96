#include "accounts/account_text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "accounts/reply_table.h"
#include "protocol/replies.h"
#include "log/line_format.h"
#include "text/text.h"
#include "log/trace_log.h"
#include "platform/last_error.h"
#include "platform/text_conversion.h"
#include "platform/parameter_number.h"

namespace {

// The same texts serve both directions: the daemons know only these.
constexpr ReplyRow CONVERSION_ROWS[] = {
    {ERROR_INSUFFICIENT_BUFFER, "-ERR Unable to convert to unicode, insufficient buffer space.",
     ReplyArgument::NONE},
    {ERROR_INVALID_FLAGS, "-ERR Unable to convert to unicode, invalid flags.",
     ReplyArgument::NONE},
    {ERROR_INVALID_PARAMETER, "-ERR Unable to convert to unicode, invalid parameter.",
     ReplyArgument::NONE},
    {ERROR_NO_UNICODE_TRANSLATION, "-ERR Unable to convert to unicode, no possible translation.",
     ReplyArgument::NONE},
};
constexpr ReplyTable CONVERSION_TABLE = {
    CONVERSION_ROWS, {0, "-ERR %d:Unable to convert to unicode.", ReplyArgument::CODE}};

struct ParameterReply {
    UserInfoMember member;
    const char *text;
};

// The misspellings are what the daemons expect.
constexpr ParameterReply PARAMETER_REPLIES[] = {
    {MEMBER_NAME, "-ERR Username invalid."},
    {MEMBER_PASSWORD, "-ERR Password invalid."},
    {MEMBER_PASSWORD_AGE, "-ERR Password age invalid."},
    {MEMBER_PRIV, "-ERR Privilage invalid."},
    {MEMBER_HOME_DIR, "-ERR Home directory invalid."},
    {MEMBER_COMMENT, "-ERR Comment invlaid."},
    {MEMBER_FLAGS, "-ERR Flags invalid."},
    {MEMBER_SCRIPT_PATH, "-ERR Script path invalid."},
};

struct UserInfoItem {
    const char *key;
    LPWSTR USER_INFO_1::*member;
};

constexpr UserInfoItem USER_INFO_ITEMS[] = {
    {"home", &USER_INFO_1::usri1_home_dir},
    {"comment", &USER_INFO_1::usri1_comment},
    {"script", &USER_INFO_1::usri1_script_path},
};

// One member's narrow value, cut in place when the reply needs room.
struct UserInfoValue {
    const char *key;
    NarrowText text;
    std::size_t length;
};

// At most one value per member, in USER_INFO_ITEMS order.
struct UserInfoValues {
    std::array<UserInfoValue, std::size(USER_INFO_ITEMS)> items;
    std::size_t count = 0;
};

// Characters of the items other than their values: key, '=', two quotes,
// and the spaces between items.
std::size_t item_overhead(const UserInfoValues &values)
{
    std::size_t overhead = values.count == 0 ? 0 : values.count - 1;
    for (std::size_t i = 0; i < values.count; ++i)
        overhead += std::strlen(values.items[i].key) + 3;
    return overhead;
}

std::size_t length_within(const UserInfoValues &values, std::size_t limit)
{
    std::size_t total = 0;
    for (std::size_t i = 0; i < values.count; ++i)
        total += std::min(values.items[i].length, limit);
    return total;
}

// A cut at n that does not split a UTF-8 sequence.
std::size_t character_boundary(const char *text, std::size_t length, std::size_t n)
{
    while (n > 0 && n < length && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

// Cuts the longest values first, to one common limit, until the values
// fit into budget.
void shorten_values(UserInfoValues &values, std::size_t budget)
{
    std::size_t limit = 0;
    for (std::size_t i = 0; i < values.count; ++i)
        limit = std::max(limit, values.items[i].length);
    while (limit > 0 && length_within(values, limit) > budget)
        --limit;
    for (std::size_t i = 0; i < values.count; ++i) {
        UserInfoValue &value = values.items[i];
        if (value.length <= limit)
            continue;
        std::size_t length = value.length;
        value.length = character_boundary(value.text.bytes, length, limit);
        value.text.bytes[value.length] = '\0';
        log_error("Reply too long, %s value shortened from %zu to %zu bytes", value.key, length,
                  value.length);
    }
}

// A '"' would end the value's field early and forge the next; a control
// character (C0, DEL, C1) would reach the terminal the log is read on.
bool is_unsafe_unit(WCHAR unit)
{
    auto code = static_cast<unsigned>(unit);
    return code == '"' || code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// Why a stored value cannot go into a reply as it is, or nullptr. The
// stores refuse such values on write; a value written by other tools, or
// by a store that allowed it once, is still read.
const char *unsafe_value(LPCWSTR member, NarrowText &narrow)
{
    for (LPCWSTR unit = member; *unit != 0; ++unit)
        if (is_unsafe_unit(*unit))
            return "it holds a double quote or a control character";
    if (WideCharToMultiByte(CP_ACP, 0, member, -1, narrow.bytes, NARROW_TEXT_MAX, nullptr,
                            nullptr) == 0)
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? "it is longer than 510 bytes"
                                                           : "it cannot be converted";
    return nullptr;
}

// One bad value must not cost the account its reply, nor a search the
// accounts after it: the value is left out and the log says whose it was.
void leave_out(const USER_INFO_1 &record, const char *key, const char *why)
{
    NarrowText name;
    if (record.usri1_name == nullptr ||
        WideCharToMultiByte(CP_ACP, 0, record.usri1_name, -1, name.bytes, NARROW_TEXT_MAX,
                            nullptr, nullptr) == 0)
        copy_bounded(name.bytes, "(unreadable name)", NARROW_TEXT_MAX - 1);
    log_error("Account %s: %s left out of the reply, %s", name.text(), key, why);
}

// The narrow values of the members present that a reply can carry.
void read_user_info_values(const USER_INFO_1 &record, UserInfoValues &values)
{
    for (const UserInfoItem &item : USER_INFO_ITEMS) {
        LPCWSTR member = record.*item.member;
        if (member == nullptr)
            continue;
        UserInfoValue &value = values.items[values.count];
        if (const char *why = unsafe_value(member, value.text)) {
            leave_out(record, item.key, why);
            continue;
        }
        value.key = item.key;
        value.length = std::strlen(value.text.bytes);
        ++values.count;
    }
}

// Appends text to the line being built; the values were cut to fit.
void append_text(char *line, std::size_t &used, const char *text, std::size_t length)
{
    std::size_t room = LINE_BUFFER_SIZE - 1 - used;
    length = std::min(length, room);
    std::memcpy(line + used, text, length);
    used += length;
    line[used] = '\0';
}

void append_item(char *line, std::size_t &used, const UserInfoValue &value)
{
    if (used > 0)
        append_text(line, used, " ", 1);
    append_text(line, used, value.key, std::strlen(value.key));
    append_text(line, used, "=\"", 2);
    append_text(line, used, value.text.bytes, value.length);
    append_text(line, used, "\"", 1);
}

}  // namespace

int to_wide(const char *narrow, WideText &wide)
{
    DWORD error = 0;
    if (convert_to_wide(narrow, wide, error))
        return 1;
    reply_for_conversion_error(error);
    return 0;
}

int convert_to_wide(const char *narrow, WideText &wide, DWORD &error)
{
    error = 0;
    if (MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide.data(), WIDE_TEXT_MAX) != 0)
        return 1;
    error = GetLastError();
    return 0;
}

int to_narrow(LPCWSTR wide, NarrowText &narrow)
{
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow.bytes, NARROW_TEXT_MAX, nullptr,
                            nullptr) != 0)
        return 1;
    report_conversion_error();
    return 0;
}

int report_conversion_error()
{
    return reply_for_conversion_error(GetLastError());
}

int reply_for_conversion_error(DWORD error)
{
    return reply_for_code(CONVERSION_TABLE, error, nullptr);
}

int report_parameter_error(DWORD index)
{
    for (const ParameterReply &row : PARAMETER_REPLIES) {
        if (row.member == index) {
            reply_negative("%s", row.text);
            return 1;
        }
    }
    return 0;
}

char *string_append(char *text, const char *suffix)
{
    if (suffix == nullptr)
        return text;
    std::size_t old_length = text ? std::strlen(text) : 0;
    std::size_t suffix_length = std::strlen(suffix);
    char *block = static_cast<char *>(std::realloc(text, old_length + suffix_length + 5));
    if (block == nullptr)
        return text;
    std::memcpy(block + old_length, suffix, suffix_length + 1);
    return block;
}

std::size_t user_info_room(std::size_t head_length)
{
    // The line without its line feed, less the head and the space after it.
    const std::size_t line_room = LINE_BUFFER_SIZE - 2;
    return head_length + 1 < line_room ? line_room - head_length - 1 : 0;
}

void format_user_info(const USER_INFO_1 *record, std::size_t room, HeapText &text)
{
    text.reset();
    if (record == nullptr)
        return;
    UserInfoValues values;
    read_user_info_values(*record, values);
    if (values.count == 0)
        return;
    std::size_t overhead = item_overhead(values);
    shorten_values(values, room > overhead ? room - overhead : 0);
    // Built in place and handed to string_append once: one allocation a
    // reply, where search writes one reply per account.
    char line[LINE_BUFFER_SIZE];
    std::size_t used = 0;
    line[0] = '\0';
    for (std::size_t i = 0; i < values.count; ++i)
        append_item(line, used, values.items[i]);
    text.reset(string_append(nullptr, line));
}

void reply_with_user_info(std::string_view head, const USER_INFO_1 *record)
{
    HeapText info;
    format_user_info(record, user_info_room(head.size()), info);
    int length = static_cast<int>(head.size());
    if (info)
        reply_positive("%.*s %s", length, head.data(), info.get());
    else
        reply_positive("%.*s", length, head.data());
}
