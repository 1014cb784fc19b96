// The commands that need no account service: help, version, quit and exit.
#pragma once

#include "protocol/word_list.h"

int do_help(const WordList &words, int command_index);
int do_version(const WordList &words, int command_index);
int do_quit(const WordList &words, int command_index);
