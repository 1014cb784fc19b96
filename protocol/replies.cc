#include "protocol/replies.h"

#include <cstdarg>
#include <cstdio>

#include "log/line_format.h"
#include "log/trace_log.h"

bool negative_reply_given = false;
bool replies_traced_only = false;

namespace {

void write_reply(const char *line)
{
    if (replies_traced_only)
        return;
    std::fputs(line, stdout);
    std::fflush(stdout);
}

}  // namespace

int reply_negative(const char *format, ...)
{
    char line[LINE_BUFFER_SIZE];
    va_list arguments;
    va_start(arguments, format);
    format_line(line, format, arguments);
    va_end(arguments);
    if (negative_reply_given) {
        log_error("Already given one negative response for this command, so not writing out "
                  "one on next line:\n");
    } else {
        negative_reply_given = true;
        write_reply(line);
    }
    return log_error("%s", line);
}

int reply_positive(const char *format, ...)
{
    char line[LINE_BUFFER_SIZE];
    va_list arguments;
    va_start(arguments, format);
    format_line(line, format, arguments);
    va_end(arguments);
    write_reply(line);
    return log_info("%s", line);
}
