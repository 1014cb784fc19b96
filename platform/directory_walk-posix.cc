#include "platform/directory_walk.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int error_of(int result)
{
    return result < 0 ? errno : 0;
}

}  // namespace

WalkedDirectory::~WalkedDirectory()
{
    if (handle >= 0)
        close(handle);
}

int open_walk_root(WalkedDirectory &root, const char *path)
{
    int handle = open(path, DIRECTORY_FLAGS);
    if (handle < 0)
        return errno;
    root = WalkedDirectory{};
    root.handle = handle;
    return 0;
}

int make_walked_directory(const WalkedDirectory &parent, const char *name, const char *)
{
    return error_of(mkdirat(parent.handle, name, 0700));
}

int enter_walked_directory(const WalkedDirectory &parent, const char *name, const char *,
                           WalkedDirectory &child)
{
    int handle = openat(parent.handle, name, DIRECTORY_FLAGS);
    if (handle < 0) {
        int error = errno;
        // Linux answers ENOTDIR for a link too when O_DIRECTORY is given.
        struct stat status;
        if (error == ENOTDIR && fstatat(parent.handle, name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(status.st_mode))
            return ELOOP;
        return error;
    }
    child = WalkedDirectory{};
    child.handle = handle;
    return 0;
}

int set_walked_directory_mode(const WalkedDirectory &directory, const char *, unsigned mode)
{
    return error_of(fchmod(directory.handle, static_cast<mode_t>(mode)));
}

int copy_walked_directory(const WalkedDirectory &directory, WalkedDirectory &copy)
{
    int handle = fcntl(directory.handle, F_DUPFD_CLOEXEC, 0);
    if (handle < 0)
        return errno;
    copy = WalkedDirectory{};
    copy.handle = handle;
    return 0;
}

int remove_walked_directory(const WalkedDirectory &parent, const char *name, const char *)
{
    return error_of(unlinkat(parent.handle, name, AT_REMOVEDIR));
}

int create_probe_file(const WalkedDirectory &parent, const char *name, const char *)
{
    int handle = openat(parent.handle, name,
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (handle < 0)
        return errno;
    return error_of(close(handle));
}

int remove_probe_file(const WalkedDirectory &parent, const char *name, const char *)
{
    return error_of(unlinkat(parent.handle, name, 0));
}
