#include "platform/process.h"

#include <cerrno>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

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

std::FILE *open_file(const char *path, const char *mode)
{
    // msvcrt's fopen reads "wx" as "w", which would empty a file of that
    // name that a user keeps.
    if (std::strcmp(mode, "wx") != 0)
        return std::fopen(path, mode);
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE *file = _fdopen(fd, "w");
    if (file == nullptr)
        _close(fd);
    return file;
}

std::FILE *open_log_stream(const char *path)
{
    return std::fopen(path, "a");
}

void ignore_file_size_signal()
{
    // Windows has no file size signal.
}

int run_program_beside(const char *, const char *const[])
{
    // Windows has one account service, in every program: nothing asks.
    errno = ENOSYS;
    return -1;
}

int open_handover(const std::string &)
{
    errno = ENOSYS;
    return -1;
}

bool take_handover(int, std::size_t, std::string &text)
{
    text.clear();
    return false;
}
