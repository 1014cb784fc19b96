// The trace log: one file of lines "time:[pid]LEVEL message", its three
// levels, the init.log fallback and the echo of every line in debug mode.
#pragma once

#include <cstdio>

// 0 off, 1 ERROR, 2 INFO, 3 DEBUG: a line is written when its level is not
// above log_level.
extern int log_level;
extern std::FILE *log_file;
extern bool echo_to_stdout;

constexpr int LOG_OFF = 0;
constexpr int LOG_ERROR = 1;
constexpr int LOG_INFO = 2;
constexpr int LOG_DEBUG = 3;

// Format a message and write it at their level. Return 0 and do nothing
// while logging is off; otherwise the result of log_write.
int log_error(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
int log_info(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
int log_debug(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Writes one line when the level passes (opening init.log in the current
// directory when no file is open yet) and echoes it in debug mode whether
// or not it passed. 0 when there is no message, otherwise 1.
int log_write(const char *message, int level);

// Closes the open log file and opens directory/name (".log" appended when
// name has no dot) for appending. 1, or 0 after the "-DEAD" line when the
// file cannot be opened, with logging off: the caller then ends the module.
int open_log_file(const char *directory, const char *name);

// 1 when no file is open or it was closed; 0 when closing failed.
int close_log_file();

// "debug" gives DEBUG, "error" ERROR, any other word INFO; none changes
// nothing.
void set_log_level_word(const char *word);

// fopen and fclose with a trace line each. traced_fopen keeps errno as the
// open left it; traced_fclose returns fclose's result (0 on success).
std::FILE *traced_fopen(const char *path, const char *mode);
int traced_fclose(std::FILE *file);

// The parts of a line before the message. The time text lives in an area
// that the next call overwrites (once a second); the level word is a
// constant.
const char *log_time_text();
int log_process_id();
const char *log_level_word(int level);
