#include "platform/process.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/secret_text.h"

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

namespace {

// O_NONBLOCK: a FIFO planted in the log's place must not hold the open
// (nor any write); it is refused below like any file that is not regular.
constexpr int LOG_FLAGS = O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

int open_log_descriptor(const char *path)
{
    int handle = open(path, LOG_FLAGS | O_CREAT | O_EXCL, 0600);
    if (handle >= 0) {
        // The umask may only narrow a mode; this one is meant exactly.
        fchmod(handle, 0600);
        return handle;
    }
    if (errno != EEXIST)
        return -1;
    return open(path, LOG_FLAGS);
}

// Only a regular file of one name is appended to: a second hard link would
// let whoever made it have the log written into a file of their choice.
int refuse_odd_file(int handle)
{
    struct stat status;
    int error = fstat(handle, &status) != 0 ? errno
                : !S_ISREG(status.st_mode)  ? EINVAL
                : status.st_nlink != 1      ? EMLINK
                                            : 0;
    if (error == 0)
        return handle;
    close(handle);
    errno = error;
    return -1;
}

}  // namespace

std::FILE *open_log_stream(const char *path)
{
    int handle = open_log_descriptor(path);
    if (handle < 0 || (handle = refuse_odd_file(handle)) < 0)
        return nullptr;
    std::FILE *file = fdopen(handle, "a");
    if (file == nullptr) {
        int error = errno;
        close(handle);
        errno = error;
    }
    return file;
}

void ignore_file_size_signal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

int run_program_beside(const char *program, const char *const argv[])
{
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return -1;
    std::string path(self, static_cast<std::size_t>(length));
    path.erase(path.rfind('/') + 1);
    path += program;
    // The log's buffered lines would be lost with this image.
    std::fflush(nullptr);
    execv(path.c_str(), const_cast<char *const *>(argv));
    return -1;
}

int open_handover(const std::string &text)
{
    // Not close-on-exec: the next program takes it. A memfd, unlike a
    // pipe, holds a text of any length before anyone reads it.
    int descriptor = memfd_create("lodgate-handover", 0);
    if (descriptor < 0)
        return -1;
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t step = write(descriptor, text.data() + written, text.size() - written);
        if (step < 0 && errno == EINTR)
            continue;
        if (step <= 0) {
            close(descriptor);
            return -1;
        }
        written += static_cast<std::size_t>(step);
    }
    if (lseek(descriptor, 0, SEEK_SET) != 0) {
        close(descriptor);
        return -1;
    }
    return descriptor;
}

bool take_handover(int descriptor, std::size_t limit, std::string &text)
{
    text.clear();
    struct stat info {};
    bool complete = fstat(descriptor, &info) == 0 && info.st_size >= 0 &&
                    static_cast<std::size_t>(info.st_size) <= limit;
    if (complete) {
        // Read in place: no copy of the password is left in freed memory.
        text.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t step = read(descriptor, text.data() + done, text.size() - done);
            if (step < 0 && errno == EINTR)
                continue;
            if (step <= 0)
                break;
            done += static_cast<std::size_t>(step);
        }
        complete = done == text.size();
    }
    // Nothing of the text stays for a later reader of the file.
    ftruncate(descriptor, 0);
    close(descriptor);
    if (!complete) {
        wipe_memory(text.data(), text.size());
        text.clear();
    }
    return complete;
}
