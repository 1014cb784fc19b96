// Children of the benchmark driver: started with posix_spawn, fed and read
// through pipes, timed to their reaped exit.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

using clock_type = std::chrono::steady_clock;

// Prints "bench: <why>" and ends the driver with status 1.
[[noreturn]] void fail(const std::string &why);

double since_us(clock_type::time_point start);
bool starts_with(const std::string &text, const char *prefix);

// A child with its standard input and output on pipes; standard error stays.
// The destructor closes both and reaps the child.
struct Child {
    pid_t pid = -1;
    int to_child = -1;
    int from_child = -1;
    std::string buffer;
    std::size_t start = 0;

    Child() = default;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child();
    void close_input();
};

void start_child(Child &child, const std::vector<std::string> &arguments, const std::string &cwd);
void write_all(int fd, const char *data, std::size_t size);
// One line without its line feed; false at the end of the output.
bool read_line(Child &child, std::string &line);
// The next line; ends the driver when the child has ended.
std::string expect_line(Child &child);

struct Finished {
    double microseconds = 0;   // from the start to the reaped exit
    double cpu_us = 0;         // user and system time of the child
    std::string output;
    int status = 0;            // exit status; -1 when killed by a signal
    long max_rss_kib = 0;
};

// Runs a process to its end with input on its standard input, which is then
// closed (input must fit a pipe's buffer), and its whole output (standard
// output only) read. 0, or -1 when it could not be started.
int run_process_status(const std::vector<std::string> &arguments, const std::string &cwd,
                       Finished &result, const std::string &input = "");
// The same, ending the driver unless the process exits with status 0.
Finished run_process(const std::vector<std::string> &arguments, const std::string &cwd,
                     const std::string &input = "");
// The number the process prints first.
double run_number(const std::vector<std::string> &arguments, const std::string &cwd);

// Closes the child's input, reads its output to the end and reaps it: the
// user and system time it used, in microseconds. Ends the driver unless it
// exits with status 0.
double finish_child(Child &child);

// Instructions (user and kernel) that perf stat counts for a run of the
// process fed input on its standard input; -1 when perf counts none here
// (not installed, or no hardware counters, as in many virtual machines).
// why then says what perf said.
double count_instructions(const std::vector<std::string> &arguments, const std::string &cwd,
                          const std::string &input, std::string &why);

// Spawns a daemon in a session of its own, standard input from /dev/null and
// its output appended to log. 0 with pid set, or -1.
int spawn_daemon(const std::vector<std::string> &arguments, const std::string &log, pid_t &pid);
