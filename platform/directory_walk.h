// Walking a home directory's path one directory at a time. On POSIX each
// step opens the next directory relative to the one before and never
// follows a symbolic link; on Windows each step names its full path.
#pragma once

#include <utility>

// A directory reached by a walk: an open descriptor on POSIX, unused on
// Windows, where the step's path stands for it.
struct WalkedDirectory {
    int handle = -1;

    WalkedDirectory() = default;
    WalkedDirectory(const WalkedDirectory &) = delete;
    WalkedDirectory &operator=(const WalkedDirectory &) = delete;
    WalkedDirectory(WalkedDirectory &&other) noexcept : handle(std::exchange(other.handle, -1)) {}
    // The old handle goes with other.
    WalkedDirectory &operator=(WalkedDirectory &&other) noexcept
    {
        std::swap(handle, other.handle);
        return *this;
    }
    ~WalkedDirectory();
};

// Every operation returns 0 or an errno value. path is the full path of
// the directory or file that name names inside parent.

// Opens the root the walk starts from ("/" or "C:\").
int open_walk_root(WalkedDirectory &root, const char *path);

// Creates the directory owner-only; EEXIST when something of that name is
// already there.
int make_walked_directory(const WalkedDirectory &parent, const char *name, const char *path);

// The next step: ELOOP for a symbolic link, ENOTDIR for anything else that
// is not a directory.
int enter_walked_directory(const WalkedDirectory &parent, const char *name, const char *path,
                           WalkedDirectory &child);

// Gives a directory the walk created exactly mode, whatever the umask.
int set_walked_directory_mode(const WalkedDirectory &directory, const char *path, unsigned mode);

// Another hold on the same directory, which outlives the walk.
int copy_walked_directory(const WalkedDirectory &directory, WalkedDirectory &copy);

// Removes the directory when it is empty (ENOTEMPTY or EEXIST otherwise).
int remove_walked_directory(const WalkedDirectory &parent, const char *name, const char *path);

// Creates an empty file only when nothing of that name is there, never
// through a link (EEXIST otherwise), and closes it.
int create_probe_file(const WalkedDirectory &parent, const char *name, const char *path);
int remove_probe_file(const WalkedDirectory &parent, const char *name, const char *path);
