// lookup <user> and search <pattern>: an account's data, and the accounts
// whose names match a wildcard pattern.
#pragma once

#include <string>
#include <vector>

#include "protocol/word_list.h"

// Both: -1 when the word after the command word is missing; 1 after the
// positive reply (search: the data lines and the count line); 0 after a
// negative reply.
int do_lookup(const WordList &words, int command_index);
int do_search(const WordList &words, int command_index);

// True when pattern is "*" alone, or when match_pattern gives 1.
bool name_matches(const char *pattern, const char *name);

// Compares the whole text with the whole pattern ('?', '*', '[...]' classes,
// '\' quoting; case-sensitive bytes): 1 match, 0 no match, -1 when the text
// ran out while the pattern still needed characters, so that no later start
// of an enclosing '*' can match either.
int match_pattern(const char *text, const char *pattern);

// The literal texts every name that pattern matches holds, in order, with
// '*', '?' and classes as gaps of any length (a NameShape): "u1999?" gives
// {"u1999", ""}, "[ab]*x" {"", "x"}, "*" {"", ""}.
std::vector<std::string> pattern_shape(const char *pattern);
