#include "platform/process.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <cstdio>

int current_process_id()
{
    return _getpid();
}

void set_stdout_text_mode()
{
    _setmode(_fileno(stdout), _O_TEXT);
}

int make_directory(const char *path)
{
    return _mkdir(path);
}
