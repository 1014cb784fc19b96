// Process facilities that differ between the runtimes.
#pragma once

// The id of this process.
int current_process_id();

// Puts standard output in text mode, so that a line feed reaches the peer
// as the platform's line end (CR LF on Windows).
void set_stdout_text_mode();

// Creates one directory with the platform's default permissions; 0 on
// success, -1 with errno set.
int make_directory(const char *path);
