#include "platform/process.h"

#include <sys/stat.h>
#include <unistd.h>

int current_process_id()
{
    return static_cast<int>(getpid());
}

void set_stdout_text_mode()
{
    // A line feed is already the line end here.
}

int make_directory(const char *path)
{
    // The umask decides, as for any directory a program makes.
    return mkdir(path, 0777);
}

std::FILE *open_file(const char *path, const char *mode)
{
    return std::fopen(path, mode);
}
