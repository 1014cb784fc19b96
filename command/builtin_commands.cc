#include "command/builtin_commands.h"

#include "command/command_loop.h"
#include "log/product.h"
#include "protocol/replies.h"
#include "log/trace_log.h"

namespace {

// The daemons and administrators read this listing as it stands: it names
// no search and shows version with an argument.
constexpr const char *HELP_LINES[] = {
    "+DATA Valid commands",
    "+DATA   set <user> <pass>|(NULL) home=\"<dir>\" script=\"<file>\" comment=\"<text>\"",
    "+DATA   del <user>",
    "+DATA   check <user> <pass>",
    "+DATA   lookup <user>",
    "+DATA   version <text>",
    "+DATA   help",
    "+DATA   quit",
    "+DATA   exit",
    "+OK",
};

}  // namespace

int do_help(const WordList &, int)
{
    log_info("Performing help");
    for (const char *line : HELP_LINES)
        reply_positive("%s", line);
    return 1;
}

int do_version(const WordList &, int)
{
    log_info("Performing version");
    reply_positive("+OK %s version %s", PRODUCT_NAME, VERSION_TEXT);
    return 1;
}

int do_quit(const WordList &, int)
{
    log_info("Performing exit");
    keep_running = false;
    reply_positive("+OK");
    return 1;
}
