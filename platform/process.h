// Process facilities that differ between the runtimes.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// The id of this process.
int current_process_id();

// Puts standard output in text mode, so that a line feed reaches the peer
// as the platform's line end (CR LF on Windows).
void set_stdout_text_mode();

// Creates one directory with the platform's default permissions; 0 on
// success, -1 with errno set.
int make_directory(const char *path);

// fopen, where mode "wx" creates the file only when none is there (fails
// with EEXIST otherwise) on every runtime.
std::FILE *open_file(const char *path, const char *mode);

// Opens the trace log for appending, creating it readable by its owner
// only; an existing file keeps its mode. On POSIX a symbolic link in its
// place is refused (ELOOP), and so are a FIFO without a reader (ENXIO),
// anything else that is no regular file (EINVAL) and a file with a second
// hard link (EMLINK); the open never waits.
std::FILE *open_log_stream(const char *path);

// A write beyond the file size limit then fails with EFBIG instead of
// ending the process.
void ignore_file_size_signal();

// Replaces this process by the program of that base name in this program's
// own directory, with argv (argv[0] kept, so the configuration file is
// found by the same name). Returns only when that fails: -1, errno set.
int run_program_beside(const char *program, const char *const argv[]);

// A descriptor holding text for the program that run_program_beside starts
// next (the password word, which that program's arguments would show to
// every user): only this user can read it. -1 on failure.
int open_handover(const std::string &text);

// Reads the text of such a descriptor and closes it; false when it holds
// none. At most limit bytes are taken.
bool take_handover(int descriptor, std::size_t limit, std::string &text);
