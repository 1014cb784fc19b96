// Runs the lodgate executable as a child process, as a daemon would: the
// input on its standard input, its standard output and error collected.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    int exit_status = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

struct RunOptions {
    std::string directory;          // working directory of the child
    std::string program_path;       // argv[0]; the binary's path by default
    std::string input;              // written to standard input, then closed
};

// Runs the binary with args after argv[0].
RunResult run_lodgate(const std::vector<std::string> &args, const RunOptions &options);

// The lines of a text, without their line feeds.
std::vector<std::string> lines_of(const std::string &text);

// The message part of every trace-log line of text whose prefix has the
// form "dd hh:mm:ss yyyy:[pid]LEVEL "; each entry is "LEVEL message".
// A line without that prefix is kept whole, prefixed by "?".
std::vector<std::string> log_messages(const std::string &text);

// True when some line of the log has level and message exactly.
bool log_has(const std::string &log_text, const std::string &level,
             const std::string &message);
