#include "fuzz/fuzz_sandbox.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FuzzSandbox fuzz_sandbox;

namespace {

// The log that every fuzzed log file becomes: a regular file of one name,
// as the module requires of its log, made once for the run and emptied at
// each opening so that a long run does not fill the disk.
const char *sandbox_log_path()
{
    static char path[] = "/tmp/lodgate-fuzz-log-XXXXXX";
    static bool made = false;
    if (!made) {
        int fd = mkstemp(path);
        if (fd < 0)
            std::abort();
        close(fd);
        std::atexit([] { unlink(path); });
        made = true;
    }
    return path;
}

}  // namespace

extern "C" {
std::FILE *__real_fopen(const char *path, const char *mode);
int __real_mkdir(const char *path, mode_t mode);
int __real_open(const char *path, int flags, ...);

// A fuzzed "path" line could otherwise create a log file anywhere, and a
// fuzzed home directory would be made on this machine. Only the module's
// two writing modes are caught: the log's "a" and the probe's "wx";
// libFuzzer writes its corpus and findings with "wb".
std::FILE *__wrap_fopen(const char *path, const char *mode)
{
    if (!fuzz_sandbox.active || mode == nullptr)
        return __real_fopen(path, mode);
    if (std::strchr(mode, 'x') != nullptr) {
        errno = fuzz_sandbox.probe_errno;
        return nullptr;
    }
    if (std::strcmp(mode, "a") == 0)
        return __real_fopen(sandbox_log_path(), "w");
    return __real_fopen(path, mode);
}

// The trace log is opened with open(2) for appending.
int __wrap_open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    // A new log would be made exact with fchmod, which must never reach a
    // file of the machine's (as root it left /dev/null 0600 once).
    if (fuzz_sandbox.active && (flags & O_APPEND) != 0 && (flags & O_EXCL) != 0) {
        errno = EEXIST;
        return -1;
    }
    if (fuzz_sandbox.active && (flags & O_APPEND) != 0)
        return __real_open(sandbox_log_path(), O_WRONLY | O_APPEND | O_TRUNC | O_CLOEXEC);
    return __real_open(path, flags, mode);
}

int __wrap_mkdir(const char *path, mode_t mode)
{
    if (!fuzz_sandbox.active)
        return __real_mkdir(path, mode);
    if (fuzz_sandbox.mkdir_errno == 0)
        return 0;
    errno = fuzz_sandbox.mkdir_errno;
    return -1;
}
}

void fuzz_fail(const char *property, const char *detail)
{
    fuzz_sandbox.active = false;
    std::fprintf(stderr, "\nproperty broken: %s\n%s\n", property, detail ? detail : "");
    std::abort();
}
