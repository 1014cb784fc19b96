// Splitting one input line into the words of a command.
#pragma once

#include "protocol/word_list.h"

// Words are separated by single spaces (two in a row give an empty word);
// double quotes group and are dropped; the line ends at NUL, CR or LF.
// Word 0 is a copy of program_path (none when it is null).
OwnedWordList tokenize_line(const char *line, const char *program_path);

// Points list.pointers at list.texts, ended by the null entry; word 0 is
// none when list.has_program_path is not set.
void finish_word_list(OwnedWordList &list);
