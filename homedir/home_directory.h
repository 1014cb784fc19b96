// Making sure a user's home directory exists on a local disk before set
// writes the account. A local path is an absolute drive path (C:\...) on
// Windows and an absolute path on POSIX; an empty path and a network path
// (\\server\share) are left alone. A relative path, or one with a ".."
// component, is refused. On POSIX the walk never follows a symbolic link.
//
// Each operation has a _with form that takes the separator: '\\' gives the
// Windows rules, any other the POSIX ones. The plain form uses the
// platform's PATH_SEPARATOR.
#pragma once

#include <string>
#include <vector>

#include "platform/directory_walk.h"

// The directories one make_home_directory created, in the order it made
// them, each with a hold on the directory it was made in: a set that fails
// after them takes them back.
struct MadeDirectories {
    struct Made {
        WalkedDirectory parent;
        std::string name;
        std::string path;
    };
    std::vector<Made> made;
};

// 1 present (a probe file "test.tmp" could be created, or one is already
// there); 0 absent (no path, a refused path, the probe failed, or the probe
// name would not fit in 511 characters); -1 not probed, for a path that is
// left alone.
int home_directory_present(const char *path);
int home_directory_present_with(const char *path, char separator);

// Creates every missing directory of the path in turn, from below the root
// down to the path itself, with the home_mode setting. 0 when there is no
// path, or after the negative reply when the path is refused, part of it is
// missing (ENOENT), or a step is a link or no directory, having removed what
// it made; otherwise 1, with what it made added to made when given.
int make_home_directory(const char *path, MadeDirectories *made = nullptr);
int make_home_directory_with(const char *path, char separator, MadeDirectories *made = nullptr);

// Removes the directories of made, the last made first, and forgets them.
// One that something was put in since stays, with an ERROR line.
void remove_made_directories(MadeDirectories &made);

// Why set refuses a home directory (a relative path, a ".." component), in
// the words of its reply, or nullptr when it takes the path.
const char *home_directory_refusal(const char *path);

// The path cut to 511 characters and ended by one separator, in an area of
// 512 characters that the next call overwrites.
const char *with_trailing_backslash(const char *path);
const char *with_trailing_backslash_with(const char *path, char separator);
