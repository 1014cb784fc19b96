// set <user> <pass>|(NULL) home="<dir>" script="<file>" comment="<text>":
// create an account (replacing one of the same name) and join it to the
// configured group, or with "(NULL)" update an existing account's home
// directory, comment and logon script. The home directory is provisioned
// on disk before the account is written.
#pragma once

#include <cstddef>

#include "accounts/account_text.h"
#include "homedir/home_directory.h"
#include "protocol/word_list.h"
#include "platform/win_types.h"

// Both: -1 when the user or password word is missing (nothing written);
// 1 after the positive reply; 0 after a negative reply.
int set_user(const WordList &words, int command_index);
int update_user(const WordList &words, int command_index);

// True when the account can be read on the host; false after a negative
// reply ("-ERR User account not found." when there is no such account).
bool user_exists(LPCWSTR user);

// The wide values that parse_user_info places in a record; they must live
// as long as the record is used.
struct UserInfoTexts {
    WideText home;
    WideText comment;
    WideText script;
};

// Reads the home=, comment= and script= words after the password word into
// record, applies the default comment and provisions the home directory,
// adding the directories it creates to made. 1, or 0 after a negative reply.
int parse_user_info(USER_INFO_1 &record, UserInfoTexts &texts, const WordList &words,
                    int password_index, MadeDirectories &made);

// The value of a user information word: after its first '=', without one
// leading and one trailing double quote. Lives in an area that the next
// call overwrites; none when there is no word.
const char *user_info_value(const char *word);

// True for a home=, comment= or script= word: set's values, which the
// command-line options never read as option words.
bool is_user_info_word(const char *word);

// Answers like strncmp, 0 for equal: 0 when both texts are present and
// their first n bytes are equal; 1 when either is missing; otherwise the
// comparison's non-zero result.
int same_prefix(const char *a, const char *b, std::size_t n);
