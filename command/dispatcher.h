// Running one command: passing over option words, the dispatch table and
// the help listing for an incomplete command.
#pragma once

#include "command/option_words.h"
#include "protocol/word_list.h"

// Runs the command in words; its result is not used by the loop.
int dispatch_command(const WordList &words);

// Index of the command word: the first word after word 0 that is not an
// option word ("debug", "path <dir>", "log [debug|info|error]", each also
// with a leading '-'). Equal to the count when there are options only; 0
// when there is no list.
int skip_option_words(const WordList *words);

// Where the command of words and its own words lie.
CommandSpan find_command_span(const WordList &words);
