// The process from start-up to shutdown: the start-up switches, the
// configuration, one command from the command line and the terminal loop.
#pragma once

#include "protocol/word_list.h"

// The loop reads another line while it is set.
extern bool keep_running;

// The entry point; returns the exit status.
int run_lodgate(int argc, char **argv);

// The entry point of the module that lodgate hands its run to, which takes
// the password word from the handover (command/store_program.h).
int run_handed_lodgate(int argc, char **argv);

// Sets the work path from the word after the first "path" or "-path" of
// words (none when it is the last word) and returns it.
const char *find_work_path(const WordList *words);

// Applies "log", "debug" and "log_passwords" among the process arguments
// and opens the log file when a level is set. Returns log_level, or -1
// after the "-DEAD" line when that file cannot be opened.
int apply_command_line_options(const WordList &words);
