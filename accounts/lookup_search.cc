#include "accounts/lookup_search.h"

#include <cstring>
#include <string>
#include <vector>

#include "accounts/account_text.h"
#include "accounts/reply_table.h"
#include "protocol/replies.h"
#include "config/host.h"
#include "log/text.h"
#include "log/trace_log.h"
#include "platform/account_service.h"
#include "platform/last_error.h"
#include "platform/text_conversion.h"

namespace {

constexpr int MATCH = 1;
constexpr int NO_MATCH = 0;
constexpr int ABORT = -1;

// What one NetUserEnum call may fill; the service answers ERROR_MORE_DATA
// while entries remain, so memory stays bounded by one batch.
constexpr DWORD SEARCH_BATCH_BYTES = 3200;

constexpr ReplyRow SEARCH_ROWS[] = {
    {ERROR_ACCESS_DENIED, ACCESS_DENIED_REPLY, ReplyArgument::NONE},
    {ERROR_INVALID_NAME, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
    {NERR_InvalidComputer, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
};
constexpr ReplyTable SEARCH_TABLE = {SEARCH_ROWS, {0, UNKNOWN_ERROR_REPLY, ReplyArgument::CODE}};

// "Not found" is final for a daemon, which bounces the mail: it answers
// only a name the service reports missing. A service that cannot answer
// gets check's reply for the same fault.
constexpr ReplyRow LOOKUP_ROWS[] = {
    {NERR_UserNotFound, "-ERR User %s not found.", ReplyArgument::TEXT},
    {ERROR_ACCESS_DENIED, ACCESS_DENIED_REPLY, ReplyArgument::NONE},
    {NERR_InvalidComputer, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
};
constexpr ReplyTable LOOKUP_TABLE = {LOOKUP_ROWS,
                                     {0, UNKNOWN_ERROR_HAS_REPLY, ReplyArgument::CODE}};

// A logon that reaches no server answers ERROR_NO_LOGON_SERVERS where a
// read answers ERROR_BAD_NETPATH; lookup tells it as check does.
DWORD as_logon_code(DWORD result)
{
    return result == ERROR_BAD_NETPATH ? ERROR_NO_LOGON_SERVERS : result;
}

// Bounds compare as signed bytes, as the daemons' own matching did: a byte
// of 0x80 or above lies below every ASCII character.
bool in_range(char low, char high, char c)
{
    auto value = static_cast<signed char>(c);
    return static_cast<signed char>(low) <= value && value <= static_cast<signed char>(high);
}

// Tests c against the class that starts just after its '['. Returns the
// pattern past the closing ']', or nullptr when the pattern ends inside the
// class: an unclosed class matches no character.
const char *match_class(const char *pattern, char c, bool &matched)
{
    bool negated = *pattern == '^';
    if (negated)
        ++pattern;
    bool found = false;
    char previous = '\0';
    // A leading ']' or '-' is a member, not the end or a range.
    if (*pattern == ']' || *pattern == '-') {
        found = *pattern == c;
        previous = *pattern++;
    }
    while (*pattern != ']') {
        if (*pattern == '\0')
            return nullptr;
        if (*pattern == '-' && pattern[1] != ']' && pattern[1] != '\0') {
            found = found || in_range(previous, pattern[1], c);
            previous = pattern[1];
            pattern += 2;
        } else {
            found = found || *pattern == c;
            previous = *pattern++;
        }
    }
    matched = found != negated;
    return pattern + 1;
}

int match_star(const char *text, const char *pattern)
{
    while (*pattern == '*')
        ++pattern;
    if (*pattern == '\0')
        return MATCH;
    for (; *text != '\0'; ++text) {
        int result = match_pattern(text, pattern);
        if (result != NO_MATCH)
            return result;
    }
    return ABORT;
}

// Writes the data line of every record of one batch whose name matches. A
// name that does not convert is left out with an ERROR line: one bad entry
// must not hide the accounts after it.
void write_matches(const char *pattern, const USER_INFO_1 *records, DWORD count, int &matches)
{
    constexpr char DATA_HEAD[] = "+DATA ";
    constexpr std::size_t DATA_HEAD_LENGTH = sizeof DATA_HEAD - 1;
    // The head is built in place: search writes one line per account.
    char head[DATA_HEAD_LENGTH + NARROW_TEXT_MAX + 1];
    std::memcpy(head, DATA_HEAD, DATA_HEAD_LENGTH);
    for (DWORD i = 0; i < count; ++i) {
        NarrowText name;
        if (WideCharToMultiByte(CP_ACP, 0, records[i].usri1_name, -1, name.bytes,
                                NARROW_TEXT_MAX, nullptr, nullptr) == 0) {
            log_error("An account left out of the search: its name does not convert (%d)",
                      static_cast<int>(GetLastError()));
            continue;
        }
        if (!name_matches(pattern, name.text()))
            continue;
        std::size_t length = std::strlen(name.text());
        std::memcpy(head + DATA_HEAD_LENGTH, name.text(), length);
        reply_with_user_info(std::string_view(head, DATA_HEAD_LENGTH + length), &records[i]);
        ++matches;
    }
}

}  // namespace

int match_pattern(const char *text, const char *pattern)
{
    for (; *pattern != '\0'; ++text) {
        if (*text == '\0' && *pattern != '*')
            return ABORT;
        switch (*pattern) {
        case '?':
            ++pattern;
            break;
        case '*':
            return match_star(text, pattern);
        case '[': {
            bool matched = false;
            pattern = match_class(pattern + 1, *text, matched);
            if (pattern == nullptr || !matched)
                return NO_MATCH;
            break;
        }
        case '\\':
            // A backslash at the pattern's end meets a text character and
            // so matches nothing.
            if (pattern[1] != *text)
                return NO_MATCH;
            pattern += 2;
            break;
        default:
            if (*pattern != *text)
                return NO_MATCH;
            ++pattern;
            break;
        }
    }
    return *text == '\0' ? MATCH : NO_MATCH;
}

std::vector<std::string> pattern_shape(const char *pattern)
{
    std::vector<std::string> shape(1);
    bool after_gap = false;
    auto gap = [&] {
        if (!after_gap)
            shape.emplace_back();
        after_gap = true;
    };
    while (pattern != nullptr && *pattern != '\0') {
        if (*pattern == '*' || *pattern == '?') {
            gap();
            ++pattern;
        } else if (*pattern == '[') {
            // Parsed as matching parses it; unclosed, it matches nothing.
            bool matched = false;
            pattern = match_class(pattern + 1, '\0', matched);
            gap();
        } else if (*pattern == '\\' && pattern[1] == '\0') {
            gap();
            ++pattern;
        } else {
            if (*pattern == '\\')
                ++pattern;
            shape.back() += *pattern++;
            after_gap = false;
        }
    }
    return shape;
}

bool name_matches(const char *pattern, const char *name)
{
    if (pattern == nullptr || name == nullptr)
        return false;
    return same_text(pattern, "*") == 0 || match_pattern(name, pattern) == MATCH;
}

int do_lookup(const WordList &words, int command_index)
{
    log_info("Performing lookup");
    const char *user_word = word_at(words, command_index + 1);
    if (user_word == nullptr)
        return -1;
    WideText user;
    if (!to_wide(user_word, user))
        return 0;
    HostName host = resolve_host();
    ServiceBuffer info;
    DWORD result = NetUserGetInfo(host.get(), user.data(), 1, info.out());
    if (result != NERR_Success)
        return reply_for_code(LOOKUP_TABLE, as_logon_code(result), user_word);
    reply_with_user_info(std::string("+OK ") + user_word + " config 0", info.user_info());
    return 1;
}

int do_search(const WordList &words, int command_index)
{
    log_info("Performing search");
    const char *pattern = word_at(words, command_index + 1);
    if (pattern == nullptr)
        return -1;
    HostName host = resolve_host();
    DWORD resume = 0;
    int matches = 0;
    narrow_next_listing(pattern_shape(pattern));
    for (;;) {
        ServiceBuffer batch;
        DWORD read = 0;
        DWORD total = 0;
        DWORD result = NetUserEnum(host.get(), 1, 0, batch.out(), SEARCH_BATCH_BYTES, &read,
                                   &total, &resume);
        if (batch.data == nullptr)
            read = 0;
        // A batch that brings nothing cannot bring the end nearer either.
        bool more = result == ERROR_MORE_DATA && read > 0;
        if (result != NERR_Success && !more)
            return reply_for_code(SEARCH_TABLE, result, nullptr);
        write_matches(pattern, batch.user_info(), read, matches);
        if (!more)
            break;
    }
    reply_positive(matches == 1 ? "+OK %d entry found." : "+OK %d entries found.", matches);
    return 1;
}
