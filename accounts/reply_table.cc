#include "accounts/reply_table.h"

#include "protocol/replies.h"

namespace {

const ReplyRow &find_row(const ReplyTable &table, DWORD code)
{
    for (const ReplyRow &row : table.rows)
        if (row.code == code)
            return row;
    return table.other;
}

}  // namespace

int reply_for_code(const ReplyTable &table, DWORD code, const char *text)
{
    const ReplyRow &row = find_row(table, code);
    // The formats are the tables' own constants; a peer's word only ever
    // goes in as an argument.
    switch (row.argument) {
    case ReplyArgument::TEXT:
        reply_negative(row.text, text ? text : "");
        break;
    case ReplyArgument::CODE:
        reply_negative(row.text, static_cast<int>(code));
        break;
    case ReplyArgument::NONE:
        reply_negative("%s", row.text);
        break;
    }
    return 0;
}
