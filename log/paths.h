// Path operations for the trace log, the configuration file and the home
// directory probe. Both results live in result areas of 512 characters that
// the next call of the same operation overwrites; longer results are cut at
// 511 characters.
#pragma once

constexpr int PATH_TEXT_MAX = 512;

// The name with every character dropped but ASCII letters and digits, '.',
// '_', '*', ':', '@' and the path separator; a space becomes '_'. Trailing
// '_' are removed, but never the first character.
const char *clean_file_name(const char *name);
const char *clean_file_name_with(const char *name, char separator);

// The directory and the cleaned name joined by one separator. An empty
// directory or name counts as absent; with one absent, the other alone.
const char *join_path(const char *directory, const char *name);
const char *join_path_with(const char *directory, const char *name,
                           char separator);
