#include "command/dispatcher.h"

#include <algorithm>

#include "accounts/check.h"
#include "accounts/delete_user.h"
#include "accounts/lookup_search.h"
#include "accounts/set_user.h"
#include "command/builtin_commands.h"
#include "command/command_loop.h"
#include "command/option_words.h"
#include "protocol/replies.h"
#include "text/text.h"
#include "log/trace_log.h"

namespace {

// set's own words run on past the password while they are values.
constexpr int SET_WORDS = -1;

struct CommandRow {
    const char *word;
    CommandHandler handler;
    int own_words;  // after the command word, or SET_WORDS
    int secret;     // place of the password among them, or 0
};

// Tested in this order, exactly and with case; the first match wins.
constexpr CommandRow COMMAND_TABLE[] = {
    {"set", set_user, SET_WORDS, 2},
    {"-set", set_user, SET_WORDS, 2},
    {"del", delete_user, 1, 0},
    {"-del", delete_user, 1, 0},
    {"check", do_check, 2, 2},
    {"-check", do_check, 2, 2},
    {"lookup", do_lookup, 1, 0},
    {"-lookup", do_lookup, 1, 0},
    {"search", do_search, 1, 0},
    {"-search", do_search, 1, 0},
    {"version", do_version, 0, 0},
    {"-version", do_version, 0, 0},
    {"help", do_help, 0, 0},
    {"-help", do_help, 0, 0},
    {"quit", do_quit, 0, 0},
    {"exit", do_quit, 0, 0},
};

const CommandRow *find_command(const char *word)
{
    for (const CommandRow &row : COMMAND_TABLE)
        if (same_text(word, row.word) == 0)
            return &row;
    return nullptr;
}

int own_words_end(const WordList &words, int command, const CommandRow &row)
{
    if (row.own_words != SET_WORDS)
        return std::min(command + 1 + row.own_words, words.count);
    int end = std::min(command + 3, words.count);
    while (end < words.count && is_user_info_word(words.words[end]))
        ++end;
    return end;
}

}  // namespace

CommandSpan find_command_span(const WordList &words)
{
    CommandSpan span;
    span.command = skip_option_words(&words);
    span.own_end = std::min(span.command + 1, words.count);
    const CommandRow *row = span.command < words.count ? find_command(words.words[span.command])
                                                        : nullptr;
    if (row == nullptr)
        return span;
    span.own_end = own_words_end(words, span.command, *row);
    if (row->secret != 0 && span.command + row->secret < span.own_end)
        span.secret = span.command + row->secret;
    return span;
}

int skip_option_words(const WordList *words)
{
    if (words == nullptr)
        return 0;
    int index = 1;
    while (index < words->count) {
        OptionWord option = option_word(words->words[index]);
        if (option == OptionWord::DEBUG) {
            index += 1;
        } else if (option == OptionWord::PATH) {
            index = index + 2 < words->count ? index + 2 : words->count;
        } else if (option == OptionWord::LOG) {
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
    const CommandRow *row = find_command(word);
    if (row == nullptr) {
        reply_negative("-ERR Not a valid command (%s) use \"help\"", word);
        return 0;
    }
    int result = row->handler(words, index);
    if (result < 0)
        do_help(words, index);
    return result;
}
