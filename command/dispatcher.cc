#include "command/dispatcher.h"

#include "accounts/check.h"
#include "accounts/delete_user.h"
#include "accounts/lookup_search.h"
#include "accounts/set_user.h"
#include "command/builtin_commands.h"
#include "command/command_loop.h"
#include "command/replies.h"
#include "log/text.h"
#include "log/trace_log.h"

namespace {

struct CommandRow {
    const char *word;
    CommandHandler handler;
};

// Tested in this order, exactly and with case; the first match wins.
constexpr CommandRow COMMAND_TABLE[] = {
    {"set", set_user},
    {"-set", set_user},
    {"del", delete_user},
    {"-del", delete_user},
    {"check", do_check},
    {"-check", do_check},
    {"lookup", do_lookup},
    {"-lookup", do_lookup},
    {"search", do_search},
    {"-search", do_search},
    {"version", do_version},
    {"-version", do_version},
    {"help", do_help},
    {"-help", do_help},
    {"quit", do_quit},
    {"exit", do_quit},
};

CommandHandler find_handler(const char *word)
{
    for (const CommandRow &row : COMMAND_TABLE)
        if (same_text(word, row.word) == 0)
            return row.handler;
    return nullptr;
}

bool is_word(const char *word, const char *plain)
{
    return same_text(word, plain) == 0 || (word && word[0] == '-' && same_text(word + 1, plain) == 0);
}

bool is_level_word(const char *word)
{
    return same_text(word, "debug") == 0 || same_text(word, "info") == 0 ||
           same_text(word, "error") == 0;
}

}  // namespace

int skip_option_words(const WordList *words)
{
    if (words == nullptr)
        return 0;
    int index = 1;
    while (index < words->count) {
        const char *word = words->words[index];
        if (is_word(word, "debug")) {
            index += 1;
        } else if (is_word(word, "path")) {
            index = index + 2 < words->count ? index + 2 : words->count;
        } else if (is_word(word, "log")) {
            index += 1;
            if (index < words->count && is_level_word(words->words[index]))
                index += 1;
        } else {
            break;
        }
    }
    return index;
}

int dispatch_command(const WordList &words)
{
    int index = skip_option_words(&words);
    log_debug("Command {%d}", index);
    if (index == words.count) {
        keep_running = true;
        return 1;
    }
    const char *word = words.words[index];
    log_debug("Function? {%s}", word);
    CommandHandler handler = find_handler(word);
    if (handler == nullptr) {
        reply_negative("-ERR Not a valid command (%s) use \"help\"", word);
        return 0;
    }
    int result = handler(words, index);
    if (result < 0)
        do_help(words, index);
    return result;
}
