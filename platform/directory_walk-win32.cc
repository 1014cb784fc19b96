#include "platform/directory_walk.h"

#include <cerrno>
#include <cstdio>
#include <direct.h>
#include <sys/stat.h>

#include "platform/process.h"

// Each step names its full path; there is no handle to release.
WalkedDirectory::~WalkedDirectory() = default;

namespace {

int directory_status(const char *path)
{
    struct _stat64 status;
    if (_stat64(path, &status) != 0)
        return errno;
    return (status.st_mode & _S_IFDIR) ? 0 : ENOTDIR;
}

}  // namespace

int open_walk_root(WalkedDirectory &, const char *path)
{
    return directory_status(path);
}

int make_walked_directory(const WalkedDirectory &, const char *, const char *path)
{
    return _mkdir(path) == 0 ? 0 : errno;
}

int enter_walked_directory(const WalkedDirectory &, const char *, const char *path,
                           WalkedDirectory &)
{
    return directory_status(path);
}

int set_walked_directory_mode(const WalkedDirectory &, const char *, unsigned)
{
    // Access comes from the ACL the new directory inherits.
    return 0;
}

int copy_walked_directory(const WalkedDirectory &, WalkedDirectory &)
{
    return 0;
}

int remove_walked_directory(const WalkedDirectory &, const char *, const char *path)
{
    return _rmdir(path) == 0 ? 0 : errno;
}

int create_probe_file(const WalkedDirectory &, const char *, const char *path)
{
    std::FILE *file = open_file(path, "wx");
    if (file == nullptr)
        return errno;
    return std::fclose(file) == 0 ? 0 : errno;
}

int remove_probe_file(const WalkedDirectory &, const char *, const char *path)
{
    return std::remove(path) == 0 ? 0 : errno;
}
