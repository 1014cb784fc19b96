#include "accounts/account_text.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "accounts/reply_table.h"
#include "command/replies.h"
#include "log/line_format.h"
#include "log/trace_log.h"
#include "platform/last_error.h"
#include "platform/text_conversion.h"

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

// By the parameter-error index, the USER_INFO_1 members in their declared
// order; the misspellings are what the daemons expect.
constexpr const char *PARAMETER_REPLIES[] = {
    "-ERR Username invalid.",   "-ERR Password invalid.",       "-ERR Password age invalid.",
    "-ERR Privilage invalid.",  "-ERR Home directory invalid.", "-ERR Comment invlaid.",
    "-ERR Flags invalid.",      "-ERR Script path invalid.",
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

struct UserInfoValue {
    const char *key;
    std::string text;
};

// Characters of the items other than their values: key, '=', two quotes,
// and the spaces between items.
std::size_t item_overhead(const std::vector<UserInfoValue> &values)
{
    std::size_t overhead = values.empty() ? 0 : values.size() - 1;
    for (const UserInfoValue &value : values)
        overhead += std::strlen(value.key) + 3;
    return overhead;
}

std::size_t length_within(const std::vector<UserInfoValue> &values, std::size_t limit)
{
    std::size_t total = 0;
    for (const UserInfoValue &value : values)
        total += std::min(value.text.size(), limit);
    return total;
}

// A cut at n that does not split a UTF-8 sequence.
std::size_t character_boundary(const std::string &text, std::size_t n)
{
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

// Cuts the longest values first, to one common limit, until the values
// fit into budget.
void shorten_values(std::vector<UserInfoValue> &values, std::size_t budget)
{
    std::size_t limit = 0;
    for (const UserInfoValue &value : values)
        limit = std::max(limit, value.text.size());
    while (limit > 0 && length_within(values, limit) > budget)
        --limit;
    for (UserInfoValue &value : values) {
        if (value.text.size() <= limit)
            continue;
        std::size_t length = value.text.size();
        value.text.resize(character_boundary(value.text, limit));
        log_error("Reply too long, %s value shortened from %zu to %zu bytes", value.key, length,
                  value.text.size());
    }
}

// The narrow values of the members present; false after a conversion reply.
bool read_user_info_values(const USER_INFO_1 &record, std::vector<UserInfoValue> &values)
{
    for (const UserInfoItem &item : USER_INFO_ITEMS) {
        LPCWSTR member = record.*item.member;
        if (member == nullptr)
            continue;
        NarrowText narrow;
        if (!to_narrow(member, narrow))
            return false;
        values.push_back({item.key, narrow.text()});
    }
    return true;
}

char *append_item(char *text, const UserInfoValue &value)
{
    if (text != nullptr)
        text = string_append(text, " ");
    text = string_append(text, value.key);
    text = string_append(text, "=\"");
    text = string_append(text, value.text.c_str());
    return string_append(text, "\"");
}

}  // namespace

void wipe_memory(void *memory, std::size_t size)
{
    std::memset(memory, 0, size);
    // The memory counts as read afterwards, so the stores cannot be dropped
    // as dead (both of our compilers, g++ and MinGW's, take this form).
    __asm__ __volatile__("" : : "r"(memory) : "memory");
}

int to_wide(const char *narrow, WideText &wide)
{
    if (MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide.data(), WIDE_TEXT_MAX) != 0)
        return 1;
    report_conversion_error();
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
    return reply_for_code(CONVERSION_TABLE, GetLastError(), nullptr);
}

int report_parameter_error(DWORD index)
{
    if (index < 1 || index > std::size(PARAMETER_REPLIES))
        return 0;
    reply_negative("%s", PARAMETER_REPLIES[index - 1]);
    return 1;
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

int format_user_info(const USER_INFO_1 *record, std::size_t room, HeapText &text)
{
    text.reset();
    if (record == nullptr)
        return 1;
    std::vector<UserInfoValue> values;
    if (!read_user_info_values(*record, values))
        return 0;
    std::size_t overhead = item_overhead(values);
    shorten_values(values, room > overhead ? room - overhead : 0);
    char *built = nullptr;
    for (const UserInfoValue &value : values)
        built = append_item(built, value);
    text.reset(built);
    return 1;
}

int reply_with_user_info(const std::string &head, const USER_INFO_1 *record)
{
    HeapText info;
    if (!format_user_info(record, user_info_room(head.size()), info))
        return 0;
    if (info)
        reply_positive("%s %s", head.c_str(), info.get());
    else
        reply_positive("%s", head.c_str());
    return 1;
}
