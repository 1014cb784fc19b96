#include "tests/process_state.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "command/command_loop.h"
#include "protocol/replies.h"
#include "config/settings.h"
#include "log/trace_log.h"

void reset_process_state()
{
    if (log_file != nullptr)
        std::fclose(log_file);
    log_file = nullptr;
    log_level = LOG_OFF;
    echo_to_stdout = false;
    negative_reply_given = false;
    keep_running = false;
    settings = Settings{};
    configuration_file_path.clear();
}

WorkingDirectory::WorkingDirectory(const std::string &path)
{
    char *current = getcwd(nullptr, 0);
    previous = current ? current : "/";
    std::free(current);
    if (chdir(path.c_str()) != 0)
        std::abort();
}

WorkingDirectory::~WorkingDirectory()
{
    if (chdir(previous.c_str()) != 0)
        std::abort();
}
