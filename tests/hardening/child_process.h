// A module process kept running while the test talks to it line by line,
// for the tests that need several at once or kill one mid-command.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct ModuleProcess {
    pid_t pid = -1;
    int input = -1;   // the module's standard input
    int output = -1;  // its standard output
    std::string pending;  // read, not yet a whole line

    ModuleProcess() = default;
    ModuleProcess(const ModuleProcess &) = delete;
    ModuleProcess &operator=(const ModuleProcess &) = delete;
    ModuleProcess(ModuleProcess &&other) noexcept;
    ~ModuleProcess();
};

// Starts the module in directory with args (terminal mode when none).
bool start_module(ModuleProcess &process, const std::string &directory,
                  const std::vector<std::string> &args = {});
bool send_line(ModuleProcess &process, const std::string &line);
// The text as it is, no line feed added.
bool send_text(ModuleProcess &process, const std::string &text);
// The next reply line, without its line feed; empty after timeout_ms or at
// the end of the output.
std::string read_reply_line(ModuleProcess &process, int timeout_ms = 60000);
// The lines of one reply: any +DATA lines and the closing line.
std::vector<std::string> read_reply(ModuleProcess &process, int timeout_ms = 60000);
// Whole lines that arrive until the output ends.
std::vector<std::string> read_all_lines(ModuleProcess &process);
// SIGKILL, then reaps the process.
void kill_module(ModuleProcess &process);
// Closes standard input and waits; the exit status, or -1.
int finish_module(ModuleProcess &process);
