// The name by which the log and configuration files follow the executable.
#pragma once

// What follows the last path separator, cut at its first dot when
// strip_extension is set. The result lives in an area that the next call
// overwrites; a none path gives the empty text.
const char *base_name(const char *path, bool strip_extension);
const char *base_name_with(const char *path, bool strip_extension,
                           char separator);
