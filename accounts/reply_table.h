// Result code to reply text, as tables. The daemons parse these texts
// letter for letter, so each command keeps its own table of them.
#pragma once

#include <span>

#include "platform/win_types.h"

// What a reply text is formatted with.
enum class ReplyArgument {
    NONE,  // the text alone
    TEXT,  // a %s: the user word or the group name
    CODE,  // a %d: the result code
};

struct ReplyRow {
    DWORD code;
    const char *text;
    ReplyArgument argument;
};

// The rows for the codes a command singles out, and the row for any other.
struct ReplyTable {
    std::span<const ReplyRow> rows;
    ReplyRow other;
};

// Texts that several tables share.
constexpr const char ACCESS_DENIED_REPLY[] =
    "-ERR The user does not have access to the requested information.";
constexpr const char INVALID_COMPUTER_REPLY[] = "-ERR The computer name is invalid.";
constexpr const char NOT_PRIMARY_REPLY[] =
    "-ERR The operation is allowed only on the primary domain controller of the domain.";
constexpr const char UNKNOWN_ERROR_REPLY[] = "-ERR %d:Unknown error occurred.";
constexpr const char UNKNOWN_ERROR_HAS_REPLY[] = "-ERR %d:Unknown error has occurred.";

// Writes the row of table for code through reply_negative, with text where
// the row asks for it. Returns 0, the handlers' result after a negative
// reply.
int reply_for_code(const ReplyTable &table, DWORD code, const char *text);
