// The home directory walk over the sandbox: nothing on this machine is
// opened, created or changed.
#include "fuzz/fuzz_sandbox.h"
#include "platform/directory_walk.h"

WalkedDirectory::~WalkedDirectory() = default;

int open_walk_root(WalkedDirectory &, const char *)
{
    return 0;
}

int make_walked_directory(const WalkedDirectory &, const char *, const char *)
{
    return fuzz_sandbox.mkdir_errno;
}

int enter_walked_directory(const WalkedDirectory &, const char *, const char *, WalkedDirectory &)
{
    return 0;
}

int set_walked_directory_mode(const WalkedDirectory &, const char *, unsigned)
{
    return 0;
}

int copy_walked_directory(const WalkedDirectory &, WalkedDirectory &)
{
    return 0;
}

// Nothing was made: nothing is removed.
int remove_walked_directory(const WalkedDirectory &, const char *, const char *)
{
    return 0;
}

int create_probe_file(const WalkedDirectory &, const char *, const char *)
{
    return fuzz_sandbox.probe_errno;
}

int remove_probe_file(const WalkedDirectory &, const char *, const char *)
{
    return 0;
}
