// Puts the module's process-wide state back as a new process has it, so that
// unit tests do not see each other's settings, log file or reply flag.
#pragma once

#include <string>

void reset_process_state();

// Changes the working directory for the life of the record.
struct WorkingDirectory {
    std::string previous;
    explicit WorkingDirectory(const std::string &path);
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory &) = delete;
    WorkingDirectory &operator=(const WorkingDirectory &) = delete;
};
