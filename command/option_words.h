// The option words of a command line, in one table: each is recognised
// with or without a leading '-'.
#pragma once

#include "protocol/word_list.h"

enum class OptionWord {
    NONE,
    DEBUG,          // debug: logging at DEBUG
    PATH,           // path <dir>: the work path
    LOG,            // log [debug|info|error]: logging on
    LOG_PASSWORDS,  // log_passwords: a warning only; not passed over
};

// What word is as an option word; NONE for any other word or none.
OptionWord option_word(const char *word);

// True for the level words that may follow "log".
bool is_level_word(const char *word);

// Where a command's words lie: the command word, then its own words (user
// name, password, pattern, set's values), which are never read as option
// words, whatever they say. own_end is one past them; secret is the index
// of the password word, or 0 when the command has none.
struct CommandSpan {
    int command = 0;
    int own_end = 0;
    int secret = 0;
};

// True where words may hold option words: word 0, the words before the
// command word, the command word itself and those after its own words.
inline bool is_option_place(const CommandSpan &span, int index)
{
    return index <= span.command || index >= span.own_end;
}
