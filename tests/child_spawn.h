// Child processes on pipes, for the test suites and the benchmarks: the one
// way they start the module, its tools and peers.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The child and this process's ends of its pipes; -1 where none was asked.
struct SpawnedChild {
    pid_t pid = -1;
    int input = -1;   // its standard input
    int output = -1;  // its standard output
    int error = -1;   // its standard error, when asked for
};

// Starts file (searched on PATH when it holds no '/') with arguments as its
// argv, in directory when one is given, its standard input and output (and
// standard error, with_error) on pipes that no other child inherits.
// posix_spawn shares this process's memory until the exec, so that a start
// costs the same however large the caller has grown (fork would copy its
// page tables first). 0, or -1 when it could not be started.
int spawn_child(const std::string &file, const std::vector<std::string> &arguments,
                const std::string &directory, bool with_error, SpawnedChild &child);
